#pragma once

// The one error of the program's file, folder and process work: what failed, as the run-time
// error number the wizard knows it by (its boxes and some of its choices depend on it), the
// path involved and the system's reason. The wizard shows description(), in the runtime's own
// words; the command line says plain(), in its own.
//
// What the core does that can fail in ways its caller must handle, where a value fits better
// than an exception, gives a Result holding the value or the Error. A failure of io becomes an
// Error where the core calls io (fromFailure).

#include "io/result.h"

#include <QString>

#include <exception>
#include <string>

namespace corvane {

// The run-time error numbers the program's logic relies on.
enum ErrorNumber : int {
    kOverflow = 6,
    kOutOfMemory = 7,
    kFileNotFound = 53,
    kDiskFull = 61,
    kDeviceUnavailable = 68,
    kPermissionDenied = 70,
    kPathFileAccessError = 75,
    kPathNotFound = 76,
    kInvalidIndex = 381,
};

class Error : public std::exception {
public:
    // `cause` is the system's errno when one is known; `detail` what a tool said, if it failed.
    explicit Error(int number, QString path = {}, int cause = 0, QString detail = {});
    // The error of a failed system call with the errno `cause`; `notFound` is the number for a
    // path that does not exist: 53 for files, 76 for folders.
    static Error fromSystem(int cause, int notFound, const QString& path);
    // The same for a failure of io, about `path` (the failure itself names the path in the
    // system's bytes, or only part of it).
    static Error fromFailure(const io::Failure& failure, int notFound, const QString& path) {
        return fromSystem(failure.error, notFound, path);
    }

    int number() const { return m_number; }
    const QString& path() const { return m_path; }
    int cause() const { return m_cause; }
    // In the runtime's words, as the wizard shows it: "Path not found: /games/q2".
    QString description() const;
    // In plain words, as the command line says it: "/games/q2: No such file or directory".
    QString plain() const;
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    int m_number;
    QString m_path;
    int m_cause;
    QString m_detail;
    std::string m_what;
};

// Whether the errno `cause` says the drive cannot be reached any more: a medium pulled out, a
// network share gone.
bool meansDriveLost(int cause);

// A value, or the Error why there is none.
template <typename T> using Result = io::Result<T, Error>;

} // namespace corvane
