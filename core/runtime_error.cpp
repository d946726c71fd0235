#include "runtime_error.h"

namespace corvane {

QString RuntimeError::describe(int number, const QString& path) {
    QString text;
    switch (number) {
    case kOverflow:
        text = QStringLiteral("Overflow");
        break;
    case kOutOfMemory:
        text = QStringLiteral("Out of memory");
        break;
    case kFileNotFound:
        text = QStringLiteral("File not found");
        break;
    case kDiskFull:
        text = QStringLiteral("Disk full");
        break;
    case kDeviceUnavailable:
        text = QStringLiteral("Device unavailable");
        break;
    case kPermissionDenied:
        text = QStringLiteral("Permission denied");
        break;
    case kPathFileAccessError:
        text = QStringLiteral("Path/File access error");
        break;
    case kPathNotFound:
        text = QStringLiteral("Path not found");
        break;
    default:
        text = QStringLiteral("Run-time error %1").arg(number);
        break;
    }
    if (!path.isEmpty())
        text += QStringLiteral(": ") + path;
    return text;
}

} // namespace corvane
