#pragma once

// The conversion: checks before any work, three archive passes, the removal of the unpacked
// tree, and the installation of the three pk3 files into qfbastion under the Quake 3 folder.
// The tools run from the program folder; they unpack and pack in a folder of the run's own,
// made new in the work folder and removed whole at the end, however the run ends. Nothing
// outside it changes but the three archives installed.
//
// Each step either lets the conversion go on or ends it with its outcome (Step); failures of
// file and process work are the one Error of the platform.

#include "conversion/notice.h"
#include "io/fd.h"
#include "platform/error.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

namespace packs {
struct Pack;
}
struct GamePaths;
struct PakContents;
struct PakIdentity;
class PakIdentification;
struct ProgramRun;
struct ToolCommand;
class RunFolder;
class Lock;
class WorkFolder;

// What the conversion changes on its screen, and what a progress display may follow.
class ConversionView {
public:
    enum class Phase { Unpacking, Packing, Cleaning, Installing };

    virtual ~ConversionView() = default;
    virtual void setScreenEnabled(bool enabled) = 0;
    virtual void setOkButtonEnabled(bool enabled) = 0;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setProgressText(const QString& text) = 0; // Label1
    // A phase starts on `what`: a pak, an archive, or the folder installed into.
    virtual void phaseStarted(Phase phase, const QString& what) { (void)phase, (void)what; }
    // Files stored in the archive being packed so far, of those found to pack in it.
    virtual void filesPacked(int packed, int total) { (void)packed, (void)total; }
    // How the archive `archive` ended: made with `files` files of `bytes` bytes (none when
    // it was not made), and installed as `target` or not.
    virtual void archiveDone(const QString& archive, int files, qint64 bytes, const QString& target,
                             bool installed) {
        (void)archive, (void)files, (void)bytes, (void)target, (void)installed;
    }
    // Which known release the pack `pak` (its path) is, in plain words.
    virtual void pakIdentified(const QString& pak, const QString& identity) {
        (void)pak, (void)identity;
    }
    // Something the user must be told: the wizard shows a box, the command line a line.
    virtual void notice(const Notice& notice) = 0;
    // A pass starts: a view with windows lets them handle what waits.
    virtual void passStarted() {}
};

// What a conversion would do, as a dry run finds it: every check passed, nothing touched.
struct ConversionPlan {
    struct Pak {
        QString pak;   // its path
        int files = 0; // members unpacked
        qint64 bytes = 0;
        QString archive; // the archive made of it
        int packed = 0;  // files it would hold; none: it would not be made
        qint64 packedBytes = 0;
        bool replaces = false; // an archive of the name is in qfbastion already
        QString identity;      // which known release the pack is, in plain words
    };
    QString workFolder; // where the run's folder would be made
    QString qfbastion;
    std::vector<Pak> paks;
};

// How a conversion ended.
enum class Outcome {
    Installed,           // all three archives are in qfbastion
    InstalledIncomplete, // all three installed, but pak0.pak held markedly fewer of the files
                         // of the classic game, so pak0.pk3 does too
    NotAllInstalled,     // some archive was not produced or could not be copied
    PathMissing,         // a game folder was not confirmed
    CheckFailed,         // a check before any work failed; nothing was touched
    Busy,                // another conversion works in the same folders; nothing was touched
    ToolFailed,          // a tool failed; what the run had made was removed, nothing installed
    Interrupted,         // a stop signal came; the tool was ended, what the run had made was
                         // removed, nothing installed
};

class Conversion {
public:
    // The tools run from `programFolder`.
    Conversion(const QString& programFolder, const GamePaths& paths, ConversionView& view);
    ~Conversion();

    // The whole sequence behind "Continue": checks, passes, cleanup, installation. The run's
    // folder is removed however it ends, also when an error escapes.
    Outcome run();

    // A step lets the conversion go on (an empty result) or ends it with an outcome.
    using Step = std::optional<Outcome>;

    // The cleanup alone, in the folder of the run, when there is one.
    void removeTempTreeAlone();

    // Makes every check the conversion makes before work (taking and letting go of its locks)
    // and fills `plan` with what it would do, touching nothing. An empty result: the
    // conversion would start; else how it would end at once.
    Step dryRun(ConversionPlan& plan);

    // Files stored in the archives so far, in all and in the archive `name`.
    int totalFiles() const { return m_totalFiles; }
    int filesIn(const QString& name) const { return m_filesIn.value(name); }

private:
    // The passes (passes.cpp), one for each pack of the packs table, and the cleanup of what
    // the first one unpacked (cleanup.cpp).
    Step RepackPak0();
    Step RepackPak1();
    Step RepackPak2();
    // Unpacks `pack`, hands the files its rules choose to the zip tool, then deletes what it
    // unpacked.
    Step repack(const packs::Pack& pack);
    void RemoveTempTree();
    // Installs the three pk3 files into qfbastion under the Quake 3 folder, one box each.
    Outcome installArchives();

    // The sequence, once the paths are known to be set: checks, passes, installation.
    Outcome convert();

    // Checks (checks.cpp): each failure shows its box and ends the conversion.
    Step checkGamePaths();
    Step checkBeforeWork();
    Step openWorkFolder();
    Step checkTools();
    Step openQfbastion();
    Step checkTargets();
    Step readPaks();
    Step checkFreeSpace();
    // Takes `lock` in the open folder `folder`, known as `path`.
    Step lockOrStop(Lock& lock, int folder, const QString& path);
    Outcome stopBeforeWork(const Notice& notice);
    // A stop signal ends the run between its steps, and so does a work folder given to another
    // user.
    Step stopIfAsked();

    // Runs a tool in the run's folder.
    ProgramRun runTool(const ToolCommand& command);
    // Runs the zip tool on `archive`; a run that fails is told, quoting the tool, and ends the
    // run.
    Step ExecCmd(const ToolCommand& command, const QString& archive);
    // Unpacks the members of `pack` from baseq2; members the tool skipped are shown in one box.
    Step unpack(const packs::Pack& pack);
    // Hands `batch` to the zip tool to store in `archiveName`, and empties it.
    Step flushBatch(const QString& archiveName, QStringList& batch);
    // Deletes what `pack` unpacked from the run's folder, as the packs table says; what stays
    // goes with the folder.
    void removeUnpacked(const packs::Pack& pack);
    // Tells the user when pak0.pak, of no known release, held markedly fewer files than the
    // classic game's.
    void reportUnexpectedData(int expected);
    // Starts finding which known release each pack is, beside the passes.
    void startIdentification();
    const std::vector<PakIdentity>& identities();
    // Tells the user, in one box, of packs of a known release's size with other contents.
    void reportChangedPaks();
    void showTotal();
    QString quake2Archive(const QString& name) const;
    QString qfbastionPath() const;
    QString targetOf(const QString& name) const;
    // Tells the view how each archive ended: its size (-1 when it was not made).
    void reportArchives(const std::vector<qint64>& sizes, bool installed);
    // Ends the run: its folder is removed and the locks let go.
    void finish();

    const GamePaths& m_paths;
    ConversionView& m_view;
    QString m_programFolder;
    std::unique_ptr<WorkFolder> m_work;
    io::Fd m_qfbastion; // opened once, never through a link; locked for the run
    std::unique_ptr<Lock> m_qfbastionLock;
    std::vector<PakContents> m_paks;
    std::unique_ptr<RunFolder> m_run;
    // Which known release each pack is, read beside the unpacking.
    std::unique_ptr<PakIdentification> m_identification;
    int m_toPack = 0;
    int m_totalFiles = 0;
    bool m_incomplete = false;
    QHash<QString, int> m_filesIn;
};

} // namespace corvane
