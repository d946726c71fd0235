#pragma once

// The archives installed as one step: each is first placed beside its target in qfbastion
// (linked there under a temporary name when both folders lie on one file system, else copied
// into an unnamed file), and only when all are placed are they renamed over their targets, one
// after the other. A failure while placing leaves qfbastion as it was: what was placed goes.

#include "io/atomic_file.h"
#include "io/fd.h"

#include <QString>

#include <string>
#include <vector>

namespace corvane {

class Installation {
public:
    // From the open run folder into the open folder `qfbastion`, known as `qfbastionPath`.
    Installation(int runFolder, int qfbastion, const QString& qfbastionPath);
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    // Places the archive `name` beside its target of the same name. Raises Error naming
    // the target when it cannot: a target that is a folder or read-only stays as it is.
    void place(const std::string& name);
    // Renames every placed archive over its target; raises Error naming the target that
    // failed (those before it are in place).
    void commit();

private:
    [[noreturn]] void raise(int error, const std::string& name) const;

    struct Placed {
        std::string name;
        std::string temporary; // the link beside the target, when linked
        io::AtomicFile copy;   // the unnamed copy, when copied
    };
    int m_run;
    int m_qfbastion;
    QString m_path;
    std::vector<std::unique_ptr<Placed>> m_placed;
};

} // namespace corvane
