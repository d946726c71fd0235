// Removal of what the passes unpacked into the work folder.

#include "conversion.h"

#include "core/conversion/manifests.h"
#include "core/conversion/work_folder.h"
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
        errors.attempt([&] { found = m_work->holdsFile(entry); });
        if (!found)
            continue;
        m_view.setProgressText(QStringLiteral("Deleting temporary file ") + m_work->pathOf(entry));
        errors.attempt([&] { m_work->deleteFile(entry); });
    }

    // Deepest folders first, so each one is empty by the time it is removed.
    for (const QString& folder : pakinfo::TempFolders())
        errors.attempt([&] { m_work->removeFolder(pakinfo::relativeFolder(folder)); });
    errors.show(m_services);
}

void Conversion::removeTempTreeAlone() {
    try {
        if (!m_work)
            prepareWorkFolder();
        RemoveTempTree();
    } catch (const Stopped&) {
    }
}

void Conversion::removeUnpacked(const QStringList& files, const QStringList& folders) {
    ErrorList errors;
    for (const QString& file : files)
        errors.attempt([&] { m_work->deleteFile(file); });
    for (const QString& folder : folders)
        errors.attempt([&] { m_work->removeFolder(folder); });
    errors.show(m_services);
}

void Conversion::removeWhatTheRunMade() {
    if (m_workIsCache) {
        emptyWorkFolder();
        return;
    }
    pakinfo::FillPak0Manifest();
    pakinfo::FillPak2Manifest();
    QStringList files(pakinfo::Pak0Manifest.begin(), pakinfo::Pak0Manifest.end());
    files << QStringLiteral("pics/tag1.pcx") << QStringLiteral("pics/tag2.pcx")
          << QStringLiteral("pak0.pk3") << QStringLiteral("pak1.pk3") << QStringLiteral("pak2.pk3");
    // Quietly: the box that stopped the conversion has said what matters.
    ErrorList ignored;
    for (const QString& file : files)
        ignored.attempt([&] { m_work->deleteFile(file); });
    for (const QString& folder : pakinfo::TempFolders()) {
        ignored.attempt([&] { m_work->removeTemporaries(pakinfo::relativeFolder(folder)); });
        ignored.attempt([&] { m_work->removeFolder(pakinfo::relativeFolder(folder)); });
    }
}

} // namespace corvane
