#pragma once

#include <QString>

#include <exception>

namespace corvane {

// Error numbers the program's logic relies on.
enum ErrorNumber : int {
    kOverflow = 6,
    kOutOfMemory = 7,
    kDeviceUnavailable = 68,
    kFileNotFound = 53,
    kDiskFull = 61,
    kPermissionDenied = 70,
    kPathFileAccessError = 75,
    kPathNotFound = 76,
};

// A run-time error: a number the logic tests and a description shown to the user.
class RuntimeError : public std::exception {
public:
    RuntimeError(int number, QString description)
        : m_number(number), m_description(std::move(description)),
          m_what(m_description.toStdString()) {}

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    const char* what() const noexcept override { return m_what.c_str(); }

    // The standard text for an error number ("File not found"), optionally naming a path.
    static QString describe(int number, const QString& path = {});
    static RuntimeError make(int number, const QString& path = {}) {
        return RuntimeError(number, describe(number, path));
    }

private:
    int m_number;
    QString m_description;
    std::string m_what;
};

} // namespace corvane
