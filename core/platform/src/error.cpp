#include "platform/error.h"

#include <cerrno>
#include <cstring>

namespace corvane {

bool meansDriveLost(int cause) {
    switch (cause) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ESTALE:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

namespace {

// The runtime's text for an error number.
QString runtimeText(int number) {
    switch (number) {
    case kOverflow:
        return QStringLiteral("Overflow");
    case kOutOfMemory:
        return QStringLiteral("Out of memory");
    case kFileNotFound:
        return QStringLiteral("File not found");
    case kDiskFull:
        return QStringLiteral("Disk full");
    case kDeviceUnavailable:
        return QStringLiteral("Device unavailable");
    case kPermissionDenied:
        return QStringLiteral("Permission denied");
    case kPathFileAccessError:
        return QStringLiteral("Path/File access error");
    case kPathNotFound:
        return QStringLiteral("Path not found");
    case kInvalidIndex:
        return QStringLiteral("Invalid property array index");
    default:
        return QStringLiteral("Run-time error %1").arg(number);
    }
}

// The same in plain words, where no system reason is known.
QString plainText(int number) {
    switch (number) {
    case kOverflow:
        return QStringLiteral("too many to count");
    case kOutOfMemory:
        return QString::fromLocal8Bit(strerror(ENOMEM));
    case kFileNotFound:
        return QStringLiteral("no such file");
    case kPathNotFound:
        return QStringLiteral("no such folder");
    case kDeviceUnavailable:
        return QStringLiteral("the drive cannot be reached");
    case kPermissionDenied:
        return QString::fromLocal8Bit(strerror(EACCES));
    case kInvalidIndex:
        return QStringLiteral("changed while it was read");
    default:
        return QStringLiteral("cannot be used");
    }
}

int numberFor(int cause, int notFound) {
    if (meansDriveLost(cause))
        return kDeviceUnavailable;
    switch (cause) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return notFound;
    case EACCES:
    case EPERM:
        return kPermissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kDiskFull;
    case ENOMEM:
        return kOutOfMemory;
    default:
        return kPathFileAccessError;
    }
}

} // namespace

Error::Error(int number, QString path, int cause, QString detail)
    : m_number(number), m_path(std::move(path)), m_cause(cause), m_detail(std::move(detail)),
      m_what(plain().toStdString()) {}

Error Error::fromSystem(int cause, int notFound, const QString& path) {
    return Error(numberFor(cause, notFound), path, cause);
}

QString Error::description() const {
    const QString text = runtimeText(m_number);
    return m_path.isEmpty() ? text : text + QStringLiteral(": ") + m_path;
}

QString Error::plain() const {
    const QString reason = !m_detail.isEmpty() ? m_detail
                           : m_cause != 0      ? QString::fromLocal8Bit(strerror(m_cause))
                                               : plainText(m_number);
    return m_path.isEmpty() ? reason : m_path + QStringLiteral(": ") + reason;
}

} // namespace corvane
