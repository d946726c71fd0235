#include "game_fixture.h"

#include "conversion/manifests.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace corvane::test {

QString entryFile(const QString& entry) {
    QString file = entry;
    file.replace('\\', '/');
    while (file.startsWith('/'))
        file.remove(0, 1);
    return file;
}

QByteArray contentsOf(const QString& entry) {
    return "contents of " + entryFile(entry).toUtf8() + '\n';
}

void writeManifestTree(const QString& folder, const std::function<bool(int index)>& keep) {
    pakinfo::FillPak0Manifest();
    for (int i = 0; i < pakinfo::kPak0ManifestSize; ++i) {
        const QString& entry = pakinfo::Pak0Manifest[static_cast<size_t>(i)];
        if (!keep || keep(i))
            writeFile(folder + '/' + entryFile(entry), contentsOf(entry));
    }
}

namespace {

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0)
        << program.toStdString() << ' ' << arguments.join(' ').toStdString() << ": "
        << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

} // namespace

void makePak(const QString& archive, const QString& folder) {
    run(CORVANE_PAK, {"-c", archive, folder});
}

QStringList zipMembers(const QString& archive) {
    QStringList members = QString::fromUtf8(run("unzip", {"-Z1", archive})).split('\n');
    members.removeAll(QString());
    return members;
}

QByteArray zipMember(const QString& archive, const QString& member) {
    return run("unzip", {"-p", archive, member});
}

GameFolders::GameFolders()
    : root("corvane-road"), programFolder(root.file("Program Folder \u00e9t\u00e9")),
      quake2(root.file("Games/Quake 2 \u00fc/")), quake3(root.file("Games/Quake 3 \u00fc/")) {
    makeDirs(programFolder);
    EXPECT_TRUE(QFile::copy(CORVANE_PAK, programFolder + "/pak"));
    EXPECT_TRUE(QFile::copy(CORVANE_MINIZIP, programFolder + "/minizip"));
    makeDirs(quake3 + "qfbastion");
    writeFile(quake3 + "quake3.exe");
    writeFile(quake3 + "baseq3/pak0.pk3");
}

void GameFolders::makeQuake2(const std::function<bool(int index)>& keep,
                             const QStringList& extraPak2Members) {
    writeFile(quake2 + "quake2.exe");
    makeDirs(quake2 + "baseq2");
    const QString trees = root.file("trees");
    writeManifestTree(trees + "/pak0", keep);
    makeDirs(trees + "/pak0");
    makePak(quake2 + "baseq2/pak0.pak", trees + "/pak0");

    for (const char* member : {"pics/tag1.pcx", "pics/tag2.pcx", "pics/m_main.pcx"})
        writeFile(trees + "/pak1/" + member, contentsOf(member));
    makePak(quake2 + "baseq2/pak1.pak", trees + "/pak1");

    QStringList pak2 = {"models/weapons/g_blast/base.pcx", "models/weapons/g_flareg/base.pcx"};
    for (const QString& member : pak2 + extraPak2Members)
        writeFile(trees + "/pak2/" + member, contentsOf(member));
    makePak(quake2 + "baseq2/pak2.pak", trees + "/pak2");
}

} // namespace corvane::test
