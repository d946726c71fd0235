// Removal of what the passes unpacked into the run's folder.

#include "conversion.h"

#include "core/conversion/manifests.h"
#include "core/conversion/run_folder.h"
#include "core/services.h"

namespace corvane {

void ErrorList::attempt(const std::function<void()>& step) {
    try {
        step();
    } catch (const RuntimeError& error) {
        m_texts << error.description() + QStringLiteral("\r\n");
    }
}

void ErrorList::show(Services& services) const {
    for (const QString& text : m_texts)
        services.MsgBox(QStringLiteral("Error with ") + text, kOkOnly);
}

void Conversion::RemoveTempTree() {
    pakinfo::FillPak0Manifest();
    m_view.phaseStarted(ConversionView::Phase::Cleaning);
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
    for (const QString& folder : pakinfo::TempFolders())
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
