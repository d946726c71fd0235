#pragma once

// Real game folders for the conversion tests: packs made with the pak tool from trees that
// follow the manifest, a program folder holding the real companion tools, and a Quake 3
// folder with qfbastion. Folder names carry blanks and non-ASCII letters on purpose.

#include "support/test_support.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane::test {

// The file a manifest entry names, relative and with '/' separators.
QString entryFile(const QString& entry);
// What the test trees store in the file of `entry`: distinct for every file.
QByteArray contentsOf(const QString& entry);

// Writes the files of the manifest entries for which `keep` holds below `folder`.
void writeManifestTree(const QString& folder, const std::function<bool(int index)>& keep);
// Makes a pack of everything below `folder` with the real pak tool.
void makePak(const QString& archive, const QString& folder);
// The member names of a zip archive, and one member's contents (through unzip).
QStringList zipMembers(const QString& archive);
QByteArray zipMember(const QString& archive, const QString& member);

class GameFolders {
public:
    GameFolders();

    // Puts pak0.pak (made from the manifest entries `keep` selects), pak1.pak and pak2.pak
    // into baseq2; extra members for pak2.pak may be given.
    void makeQuake2(const std::function<bool(int index)>& keep = {},
                    const QStringList& extraPak2Members = {});

    TempDir root;
    QString programFolder; // holds pak and minizip
    QString quake2;        // ends with a separator
    QString quake3;        // ends with a separator, holds qfbastion
};

} // namespace corvane::test
