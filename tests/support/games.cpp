#include "games.h"

#include "core/conversion/manifests.h"

#include <QFile>

namespace corvane::test {

bool isPacked(const QString& entry) {
    for (const char* top : {"env\\", "models\\", "pics\\", "sound\\", "sprites\\"})
        if (entry.startsWith(QLatin1String(top)))
            return true;
    return false;
}

QByteArray memberOf(const QString& entry) {
    QString member = entry;
    member.replace('\\', '/');
    while (member.startsWith('/'))
        member.remove(0, 1);
    return member.toUtf8();
}

QByteArray contentsOf(const QByteArray& member) {
    return "contents of " + member + '\n';
}

Members pak0Members() {
    pakinfo::FillPak0Manifest();
    Members members;
    for (const QString& entry : pakinfo::Pak0Manifest)
        members.emplace_back(memberOf(entry), contentsOf(memberOf(entry)));
    return members;
}

Games::Games(bool withProgram) {
    makeDirs(programFolder);
    QFile::copy(CORVANE_PAK, programFolder + "/pak");
    QFile::copy(CORVANE_MINIZIP, programFolder + "/minizip");
    if (withProgram)
        QFile::copy(CORVANE_PROGRAM, programFolder + "/corvane");
    writeFile(programFolder + "/notes.txt", "the user's own");
    writePak("pak0.pak", pak0Members());
    writePak("pak1.pak",
             {{"pics/tag1.pcx", "tag1"}, {"pics/tag2.pcx", "tag2"}, {"pics/m_main.pcx", "menu"}});
    writePak("pak2.pak", {{"models/weapons/g_blast/base.pcx", "blast"},
                          {"models/weapons/g_flareg/base.pcx", "flare"}});
    writeFile(quake3 + "baseq3/pak0.pk3");
    makeDirs(quake3 + "qfbastion");
    for (const char* file : {"models/items/armor/body/tris.md2", "env/unit1_rt.pcx"})
        writeFile(outside + '/' + file, "outside the program's folders");
    paths = {quake2, quake3};
}

void Games::writePak(const QString& name, const Members& members) {
    writeFile(quake2 + "baseq2/" + name, packBytes(members));
}

QString Games::logZipRuns() {
    QFile::rename(programFolder + "/minizip", programFolder + "/minizip.real");
    writeFile(programFolder + "/minizip",
              "#!/bin/sh\necho \"$2 $(($# - 2))\" >>\"$0.log\"\nexec \"$0.real\" \"$@\"\n");
    QFile::setPermissions(programFolder + "/minizip", QFile::ReadOwner | QFile::ExeOwner);
    return programFolder + "/minizip.log";
}

} // namespace corvane::test
