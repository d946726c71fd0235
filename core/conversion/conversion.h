#pragma once

// The conversion: checks before any work, three archive passes, the removal of the unpacked
// tree, and the installation of the three pk3 files into qfbastion under the Quake 3 folder.
// The tools run from the program folder; they unpack and pack in a folder of the run's own,
// made new in the work folder (work_folder.h) and removed whole at the end, however the run
// ends. Nothing outside it changes but the three archives installed.

#include "core/conversion/pak_contents.h"
#include "core/conversion/work_folder.h"
#include "core/counter16.h"
#include "core/runtime_error.h"
#include "io/fd.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

namespace corvane {

struct GamePaths;
struct ProgramRun;
struct ToolCommand;
class RunFolder;
class Services;

// What the conversion changes on its screen, and what a progress display may follow.
class ConversionView {
public:
    enum class Phase { Unpacking, Packing, Cleaning, Installing };

    virtual ~ConversionView() = default;
    virtual void setScreenEnabled(bool enabled) = 0;
    virtual void setOkButtonEnabled(bool enabled) = 0;
    virtual void setCaption(const QString& caption) = 0;
    virtual void setProgressText(const QString& text) = 0; // Label1
    virtual void phaseStarted(Phase phase) { (void)phase; }
    // Files stored in the archives so far, of those found to pack.
    virtual void filesPacked(int packed, int total) { (void)packed, (void)total; }
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

// Failures collected while deleting, shown one message box each at the end.
class ErrorList {
public:
    // Runs one step; a run-time error it raises is recorded and the caller goes on.
    void attempt(const std::function<void()>& step);
    // One box per failure, in order: "Error with " and the failure's description.
    void show(Services& services) const;

private:
    QStringList m_texts;
};

// The files gathered for the next run of the zip tool.
struct Batch {
    QStringList files;
    Counter16 count;
    void add(const QString& entry) {
        files << entry;
        ++count;
    }
};

class Conversion {
public:
    Conversion(Services& services, const GamePaths& paths, ConversionView& view);
    ~Conversion();

    // The whole sequence behind "Continue": checks, passes, cleanup, installation.
    Outcome run();

    void RepackPak0();
    void RemoveTempTree();
    void RepackPak1();
    void RepackPak2();
    // Installs the three pk3 files into qfbastion under the Quake 3 folder, one box each; true
    // when all three were installed.
    bool InstallArchives();

    // The cleanup alone, in the folder of the run, when there is one.
    void removeTempTreeAlone();

    // Files stored in the archives so far, in all and in the archive `name`.
    Counter16 TotalFiles;
    int filesIn(const QString& name) const { return m_filesIn.value(name); }

private:
    struct Halt {
        Outcome outcome;
    };

    // Checks (checks.cpp): each failure shows its box and stops the conversion.
    void checkGamePaths();
    void checkBeforeWork();
    void openWorkFolder();
    void checkTools();
    void openQfbastion();
    void readPaks();
    void checkFreeSpace();
    void lockOrStop(int folder, const QString& path);
    [[noreturn]] void stopBeforeWork(const QString& prompt);
    // A stop signal ends the run between its steps.
    void stopIfAsked();

    // Runs a tool in the run's folder; a run that fails shows one box quoting the tool and
    // stops the conversion.
    ProgramRun runTool(const ToolCommand& command);
    void ExecCmd(const ToolCommand& command, const QString& failure);
    // Unpacks `archive` of baseq2; members the tool skipped are shown in one box.
    void unpack(const QString& archive, const QStringList& members = {});
    void flushBatch(const QString& archiveName, Batch& batch);
    void removeUnpacked(const QStringList& files, const QStringList& folders);
    // Tells the user when pak0.pak held markedly fewer files than the classic game's.
    void reportUnexpectedData(int expected);
    void showTotal();
    QString quake2Archive(const QString& name) const;
    QString qfbastionPath() const;
    QString targetOf(const QString& name) const;
    // Ends the run: its folder is removed and the locks let go.
    void finish();

    Services& m_services;
    const GamePaths& m_paths;
    ConversionView& m_view;
    QString m_programFolder;
    WorkFolder m_work;
    io::Fd m_qfbastion; // opened once, never through a link; locked for the run
    std::array<PakContents, 3> m_paks;
    std::unique_ptr<RunFolder> m_run;
    int m_toPack = 0;
    bool m_incomplete = false;
    QHash<QString, int> m_filesIn;
};

} // namespace corvane
