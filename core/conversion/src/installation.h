#pragma once

// The archives installed as one step: all or none. Each is first placed beside its target in
// qfbastion under a name of the run's own (".corvane-install-XXXXXX.pak0.pk3": linked there
// when both folders lie on one file system, else copied and flushed). Then a journal
// (".corvane-install-XXXXXX") notes which file each new archive is, and each is swapped with
// its target (renameat2 with RENAME_EXCHANGE, or RENAME_NOREPLACE where there is no target), so
// that the old archive ends up under the run's name. A swap refused midway puts back those
// done before; when all are done the journal goes, then the old archives. A run killed among
// the swaps leaves the journal: the next run puts back what it had swapped (recover) before
// its own work, then removes what the killed run left.

#include "io/fd.h"
#include "platform/error.h"

#include <QString>

#include <memory>
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

    // Whether this user can replace the archive `name` in the open folder `qfbastion` (also
    // when there is none); fails with why not, whose plain() is words that follow its path
    // ("is read-only").
    static Result<void> checkReplaceable(int qfbastion, const std::string& name);
    // Puts back what installations killed among their swaps had swapped, then removes what
    // runs of this user left in `qfbastion`: only regular files of the user under the
    // program's names. Raises Error when something swapped cannot be put back.
    static void recover(int qfbastion, const QString& qfbastionPath);

    // Places the archive `name` beside its target of the same name. Raises Error naming the
    // target when it cannot: a target that cannot be replaced stays as it is.
    void place(const std::string& name);
    // Swaps every placed archive with its target, or none: raises Error naming the target that
    // failed, once those before it are put back. failedArchive() then names it.
    void commit();
    const std::string& failedArchive() const { return m_failed; }
    // Whether what was swapped before a failure is back in place.
    bool putBack() const { return m_putBack; }

private:
    [[noreturn]] void raise(int error, const std::string& name) const;
    std::string staged(const std::string& name) const { return m_id + "." + name; }

    int m_run;
    int m_qfbastion;
    QString m_path;
    std::string m_id; // the run's prefix in qfbastion, and the name of its journal
    std::vector<std::string> m_placed;
    std::vector<unsigned long long> m_files; // the placed archives' inode numbers
    std::string m_failed;
    bool m_putBack = true;
    bool m_done = false;
};

} // namespace corvane
