// Removal of the tree that the first archive pass unpacked into the program folder.

#include "conversion.h"
#include "conversion/manifests.h"
#include "shell/platform.h"

namespace corvane {

void ErrorList::record(const RuntimeError& error) {
    ++m_count;
    m_texts << error.description() + QStringLiteral("\r\n");
}

void ErrorList::show() const {
    for (const QString& text : m_texts)
        MsgBox(QStringLiteral("Error with ") + text, kOkOnly);
}

void Conversion::RemoveTempTree() {
    pakinfo::FillPak0Manifest();
    ErrorList errors;

    // Only the files the manifest names are deleted; nothing else is listed or walked.
    for (const QString& entry : pakinfo::Pak0Manifest) {
        const QString path = AppPath() + QChar(kSep) + nativePath(entry);
        bool found = true; // a failed look-up goes on as if the file were there
        try {
            found = !Dir(path).isEmpty();
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
        if (!found)
            continue;
        m_view.setProgressText(QStringLiteral("Deleting temporary file ") + path);
        try {
            Kill(path);
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
    }

    // Deepest folders first, so each one is empty by the time it is removed.
    for (const QString& folder : pakinfo::TempFolders()) {
        try {
            RmDir(AppPath() + nativePath(folder));
        } catch (const RuntimeError& error) {
            errors.record(error);
        }
    }
    errors.show();
}

} // namespace corvane
