// Removal of the tree that the first archive pass unpacked into the program folder.

#include "conversion.h"
#include "conversion/manifests.h"
#include "shell/platform.h"

namespace corvane {

void ErrorList::attempt(const std::function<void()>& step) {
    try {
        step();
    } catch (const RuntimeError& error) {
        m_texts << error.description() + QStringLiteral("\r\n");
    }
}

void ErrorList::show() const {
    for (const QString& text : m_texts)
        MsgBox(QStringLiteral("Error with ") + text, kOkOnly);
}

void Conversion::RemoveTempTree() {
    pakinfo::FillPak0Manifest();
    ErrorList errors;
    const QString programFolder = AppPath();

    // Only the files the manifest names are deleted; nothing else is listed or walked.
    for (const QString& entry : pakinfo::Pak0Manifest) {
        const QString path = programFolder + QChar(kSep) + nativePath(entry);
        bool found = true; // a failed look-up goes on as if the file were there
        errors.attempt([&] { found = !Dir(path).isEmpty(); });
        if (!found)
            continue;
        m_view.setProgressText(QStringLiteral("Deleting temporary file ") + path);
        errors.attempt([&] { Kill(path); });
    }

    // Deepest folders first, so each one is empty by the time it is removed.
    for (const QString& folder : pakinfo::TempFolders())
        errors.attempt([&] { RmDir(programFolder + nativePath(folder)); });
    errors.show();
}

} // namespace corvane
