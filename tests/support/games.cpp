#include "games.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

namespace corvane::test {

bool isPacked(const QString& entry) {
    return packs::isPacked(packs::kPak0, entry.toStdString());
}

QByteArray memberOf(const QString& entry) {
    return QByteArray::fromStdString(packs::memberPath(entry.toStdString()));
}

QByteArray contentsOf(const QByteArray& member) {
    return "contents of " + member + '\n';
}

QMap<QString, QByteArray> outsideTheRun(QMap<QString, QByteArray> entries) {
    entries.removeIf([](const auto& entry) {
        return entry.key().contains("/qfbastion/pak") || entry.key().startsWith("cache/corvane/") ||
               entry.key() == "zip-runs.log";
    });
    return entries;
}

int classicFileCount(int pack) {
    if (pack < 0)
        return classicFileCount(0) + classicFileCount(1) + classicFileCount(2);
    if (pack > 0)
        return int(packs::kPacks[pack].packedFiles.size());
    const auto& manifest = pakinfo::Pak0Manifest();
    return int(std::count_if(manifest.begin(), manifest.end(), isPacked));
}

Members classicPak(int pack) {
    Members members;
    for (const QString& name : pakinfo::classicMembers(pack))
        members.emplace_back(name.toUtf8(), contentsOf(name.toUtf8()));
    return members;
}

Members withAFileMoreInEveryFolder(Members members) {
    for (const QString& folder : pakinfo::tempFolders())
        members.emplace_back(memberOf(pakinfo::relativeFolder(folder)) + "/mod.cfg", "a mod's");
    return members;
}

Games::Games(bool withProgram) {
    makeDirs(programFolder);
    QFile::copy(CORVANE_PAK, programFolder + "/pak");
    QFile::copy(CORVANE_MINIZIP, programFolder + "/minizip");
    if (withProgram)
        QFile::copy(CORVANE_PROGRAM, programFolder + "/corvane");
    writeFile(programFolder + "/notes.txt", "the user's own");
    writePak("pak0.pak", classicPak(0));
    // Only the pictures named are unpacked from the second pack.
    Members pak1 = classicPak(1);
    pak1.emplace_back("pics/m_main.pcx", "menu");
    writePak("pak1.pak", pak1);
    writePak("pak2.pak", classicPak(2));
    writeFile(quake3 + "baseq3/pak0.pk3");
    makeDirs(quake3 + "qfbastion");
    for (const char* file : {"models/items/armor/body/tris.md2", "env/unit1_rt.pcx"})
        writeFile(outside + '/' + file, "outside the program's folders");
    paths = {quake2, quake3};
}

void Games::writePak(const QString& name, const Members& members) {
    writeFile(quake2 + "baseq2/" + name, packBytes(members));
}

void Games::padPak(const QString& name, qint64 bytes) {
    ASSERT_TRUE(QFile::resize(quake2 + "baseq2/" + name, bytes));
}

QString Games::logZipRuns(const QByteArray& then) {
    QString log = root.file("zip-runs.log");
    QFile::rename(programFolder + "/minizip", root.file("minizip"));
    writeFile(programFolder + "/minizip", "#!/bin/sh\nlog='" + QFile::encodeName(log) +
                                              "'\necho \"$2 $(($# - 2))\" >>\"$log\"\n" + then +
                                              "\nexec '" + QFile::encodeName(root.file("minizip")) +
                                              "' \"$@\"\n");
    QFile::setPermissions(programFolder + "/minizip", QFile::ReadOwner | QFile::ExeOwner);
    return log;
}

void Games::lockAsAnotherRun(const QString& folder, const QString& name) {
    const QString file =
        folder + '/' + (name.isEmpty() ? ".corvane-lock-" + QString::number(::geteuid()) : name);
    io::Fd held(::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    struct flock whole {};
    whole.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(held.get(), F_OFD_SETLK, &whole), 0) << file;
    locks.push_back(std::move(held));
}

void Games::lockAsAReader(const QString& folder) {
    io::Fd held(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0) << folder;
    locks.push_back(std::move(held));
}

} // namespace corvane::test
