// The compiled-in file lists, checked by the rules the conversion relies on.

#include "conversion/manifests.h"
#include "support/support.h"

#include <QSet>
#include <QStringList>

#include <gtest/gtest.h>

#include <set>

namespace corvane::pakinfo {
namespace {

QStringList filled() {
    return {Pak0Manifest().begin(), Pak0Manifest().end()};
}

TEST(Manifests, EntriesAreRelativePathsOnceEachEvenIgnoringCase) {
    QSet<QString> seen;
    for (const QString& entry : filled()) {
        SCOPED_TRACE(entry.toStdString());
        // Only one entry starts with separators; the file system reads them as one.
        QString path = entry;
        while (path.startsWith('\\'))
            path.remove(0, 1);
        EXPECT_TRUE(path == entry || entry == "\\\\sound\\boss3\\BS3SRCH3.WAV");
        EXPECT_FALSE(path.isEmpty() || path.contains("\\\\") || path.endsWith('\\'));
        for (QChar c : path)
            EXPECT_TRUE(c > ' ' && c < QChar(0x7f) && c != '/') << int(c.unicode());
        EXPECT_FALSE(seen.contains(path.toLower()));
        seen.insert(path.toLower());
    }
}

TEST(Manifests, TempFoldersAreTheFoldersOfTheFilesEachAfterItsSubFolders) {
    std::set<QString> holding;
    for (QString entry : filled()) {
        while (entry.startsWith('\\'))
            entry.remove(0, 1);
        for (qsizetype at = entry.lastIndexOf('\\'); at > 0; at = entry.lastIndexOf('\\')) {
            entry.truncate(at);
            holding.insert('\\' + entry);
        }
    }
    const auto& folders = tempFolders();
    EXPECT_EQ(std::set<QString>(folders.begin(), folders.end()), holding);
    EXPECT_EQ(holding.size(), folders.size()) << "a folder is listed twice";
    for (size_t i = 0; i < folders.size(); ++i)
        for (size_t j = i + 1; j < folders.size(); ++j)
            EXPECT_FALSE(folders[j].startsWith(folders[i] + '\\')) << folders[i] << folders[j];
}

} // namespace
} // namespace corvane::pakinfo
