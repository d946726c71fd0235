#pragma once

// The conversion: checks before any work, three archive passes, the removal of the unpacked
// tree, and the installation of the three pk3 files into qfbastion under the Quake 3 folder.
// The tools run from the program folder; they unpack and pack in the work folder, which is
// the program folder itself when it can be written, else a folder of the user's cache.

#include "core/counter16.h"
#include "core/runtime_error.h"
#include "io/tree.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace corvane {

struct GamePaths;
struct ProgramRun;
class Services;
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
    virtual void phaseStarted(Phase phase) { (void)phase; }
    // Files stored in the archives so far, of those found to pack.
    virtual void filesPacked(int packed, int total) { (void)packed, (void)total; }
};

// How a conversion ended.
enum class Outcome {
    Installed,       // all three archives are in qfbastion
    NotAllInstalled, // some archive was not produced or could not be copied
    PathMissing,     // a game folder was not confirmed
    CheckFailed,     // a check before any work failed; nothing was touched
    ToolFailed,      // a tool failed; what the run had made was removed, nothing installed
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

// The files gathered for the next run of the zip tool: each as a blank and its entry.
struct Batch {
    QString text;
    Counter16 count;
    void add(const QString& entry) {
        text += u' ' + entry;
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
    // Copies the three pk3 files into qfbastion under the Quake 3 folder, one box each; true
    // when all three were installed.
    bool InstallArchives();

    // The cleanup alone, in the work folder the conversion would use.
    void removeTempTreeAlone();

    // Files stored in the archives so far, in all and in the archive `name`.
    Counter16 TotalFiles;
    int filesIn(const QString& name) const { return m_filesIn.value(name); }

private:
    struct Stopped {
        Outcome outcome;
    };

    // Checks (checks.cpp): each failure shows its box and stops the conversion.
    void checkGamePaths();
    void prepareWorkFolder();
    void checkBeforeWork();
    void removeLeftovers();
    [[noreturn]] void stopBeforeWork(const QString& prompt);
    // What stands at `relative` in the work folder; a failure to look stops the conversion.
    io::Kind kindIn(const QString& relative);
    void emptyWorkFolder();
    // At the end of a run: a work folder of the user's cache is emptied.
    void finishWorkFolder();

    // Runs a tool; a run that fails shows one box quoting the tool and stops the conversion.
    void ExecCmd(const QString& cmdline, const QString& failure);
    // Unpacks `archive` of baseq2; members the tool skipped are shown in one box.
    void unpack(const QString& archive, const QString& members = {});
    void flushBatch(const QString& archiveName, Batch& batch);
    void removeUnpacked(const QStringList& files, const QStringList& folders);
    void showTotal();
    QString quake2Archive(const QString& name) const;
    QString targetOf(const QString& name) const;
    // After a tool failed: removes what this run made in the work folder, without a word.
    void removeWhatTheRunMade();

    Services& m_services;
    const GamePaths& m_paths;
    ConversionView& m_view;
    QString m_programFolder;
    std::unique_ptr<WorkFolder> m_work;
    bool m_workIsCache = false; // the work folder belongs to the program alone
    int m_toPack = 0;
    QHash<QString, int> m_filesIn;
};

} // namespace corvane
