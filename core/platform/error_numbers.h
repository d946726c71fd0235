#pragma once

// How the platform layer turns a POSIX error into a run-time error number.

#include "core/runtime_error.h"

#include <cerrno>

namespace corvane {

// `notFound` is the number for a missing path: 53 for files, 76 for folders.
inline int errorNumberFor(int error, int notFound) {
    switch (error) {
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
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
    case ESTALE:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return kDeviceUnavailable;
    default:
        return kPathFileAccessError;
    }
}

} // namespace corvane
