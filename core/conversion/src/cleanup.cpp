// Removal of what the passes unpacked into the run's folder.

#include "conversion/conversion.h"

#include "conversion/manifests.h"
#include "platform/services.h"
#include "run_folder.h"

namespace corvane {

void ErrorList::attempt(const std::function<void()>& step) {
    try {
        step();
    } catch (const Error& error) {
        m_errors.push_back(error);
    }
}

void ErrorList::show(Services& services) const {
    for (const Error& error : m_errors)
        services.showFailure(QStringLiteral("Error with ") + error.description() +
                                 QStringLiteral("\r\n"),
                             QStringLiteral("could not remove ") + error.plain());
}

void Conversion::RemoveTempTree() {
    pakinfo::FillPak0Manifest();
    m_view.phaseStarted(ConversionView::Phase::Cleaning, m_run->path());
    ErrorList errors;

    // Only the files the manifest names are deleted; nothing else is listed or walked.
    for (const QString& entry : pakinfo::Pak0Manifest) {
        bool found = true; // a failed look-up goes on as if the file were there
        errors.attempt([&] { found = m_run->holdsFile(entry); });
        if (!found)
            continue;
        m_view.setProgressText(QStringLiteral("Deleting temporary file ") + m_run->pathOf(entry));
        errors.attempt([&] { m_run->deleteFile(entry); });
    }

    // Deepest folders first, so each one is empty by the time it is removed.
    for (const QString& folder : pakinfo::tempFolders())
        errors.attempt([&] { m_run->removeFolder(pakinfo::relativeFolder(folder)); });
    errors.show(m_services);
}

void Conversion::removeTempTreeAlone() {
    // The unpacked tree only ever lies in the folder of a run.
    if (m_run)
        RemoveTempTree();
}

void Conversion::removeUnpacked(const QStringList& files, const QStringList& folders) {
    ErrorList errors;
    for (const QString& file : files)
        errors.attempt([&] { m_run->deleteFile(file); });
    for (const QString& folder : folders)
        errors.attempt([&] { m_run->removeFolder(folder); });
    errors.show(m_services);
}

} // namespace corvane
