// Removal of what the passes unpacked into the run's folder.
//
// Everything unpacked lies in the run's own folder, which is removed whole when the run ends.
// So the deletions here only free space early: what cannot be deleted stays without a word,
// and each file and folder costs one system call, through descriptors of the folders that
// hold them.

#include "conversion/conversion.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "io/fd.h"
#include "platform/error.h"
#include "run_folder.h"

#include <cerrno>
#include <string>
#include <unordered_map>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace corvane {

namespace {

// A relative path split into the folder that holds its last component and that component;
// runs of separators count as one.
std::pair<std::string, std::string> folderAndName(const std::string& path) {
    std::string folder, name;
    for (size_t at = 0; at < path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        if (end > at) {
            if (!name.empty())
                folder += (folder.empty() ? "" : "/") + name;
            name = path.substr(at, end - at);
        }
        at = end + 1;
    }
    return {folder, name};
}

// The folders of the run's tree by their relative path, each opened once, one component at a
// time from the run's folder and never through a link.
class FolderHandles {
public:
    explicit FolderHandles(int root) : m_root(root) {}

    // The folder at `relative` ("" is the run's folder); -1 when it cannot be opened.
    int at(const std::string& relative) {
        if (relative.empty())
            return m_root;
        if (const auto known = m_open.find(relative); known != m_open.end())
            return known->second.get();
        const auto [parentPath, name] = folderAndName(relative);
        const int parent = at(parentPath);
        io::Fd folder(parent < 0 ? -1
                                 : ::openat(parent, name.c_str(),
                                            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        return m_open.emplace(relative, std::move(folder)).first->second.get();
    }

private:
    int m_root;
    std::unordered_map<std::string, io::Fd> m_open;
};

// Deletes files and removes folders of the run's tree, quietly.
class Sweep {
public:
    explicit Sweep(RunFolder& run) : m_run(run), m_folders(run.fd()) {}

    // Deletes the file at `relative`; true when it was there and is gone.
    bool deleteFile(const QString& relative) {
        const auto [folder, name] = folderAndName(treePath(relative));
        const int at = m_folders.at(folder);
        if (at >= 0 && ::unlinkat(at, name.c_str(), 0) == 0)
            return true;
        if (at >= 0 && errno != ENOENT)
            return false;
        // Not there as spelled: the tree finds it spelled otherwise, if at all.
        return quietly([&] {
            if (!m_run.holdsFile(relative))
                return false;
            m_run.deleteFile(relative);
            return true;
        });
    }

    // Removes the folder at `relative` when it is empty.
    void removeFolder(const QString& relative) {
        const auto [folder, name] = folderAndName(treePath(relative));
        const int at = m_folders.at(folder);
        if (at >= 0 && (::unlinkat(at, name.c_str(), AT_REMOVEDIR) == 0 || errno != ENOENT))
            return;
        quietly([&] {
            m_run.removeFolder(relative);
            return true;
        });
    }

private:
    template <typename Step> static bool quietly(Step&& step) {
        try {
            return step();
        } catch (const Error&) {
            return false; // it goes with the run's folder
        }
    }

    RunFolder& m_run;
    FolderHandles m_folders;
};

} // namespace

void Conversion::RemoveTempTree() {
    m_view.phaseStarted(ConversionView::Phase::Cleaning, m_run->path());
    Sweep sweep(*m_run);
    // Only the files the manifest names are deleted; nothing else is listed or walked.
    for (const QString& entry : pakinfo::Pak0Manifest())
        if (sweep.deleteFile(entry))
            m_view.setProgressText(QStringLiteral("Deleting temporary file ") +
                                   m_run->pathOf(entry));
    // Deepest folders first, so each one is empty by the time it is removed.
    for (const QString& folder : pakinfo::tempFolders())
        sweep.removeFolder(pakinfo::relativeFolder(folder));
    m_run->forget();
}

void Conversion::removeTempTreeAlone() {
    // The unpacked tree only ever lies in the folder of a run.
    if (m_run)
        RemoveTempTree();
}

void Conversion::removeUnpacked(const packs::Pack& pack) {
    if (pack.removal == packs::Removal::UnpackedTree) {
        RemoveTempTree();
        return;
    }
    Sweep sweep(*m_run);
    for (const char* file : pack.removedFiles)
        sweep.deleteFile(QLatin1String(file));
    for (const char* folder : pack.removedFolders)
        sweep.removeFolder(QLatin1String(folder));
    m_run->forget();
}

} // namespace corvane
