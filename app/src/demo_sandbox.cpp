#include "app/demo_sandbox.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "conversion/tool_commands.h"
#include "io/fd.h"
#include "platform/files.h"
#include "platform/process.h"

#include <fcntl.h>

namespace corvane {

namespace {

QString inFolder(const QString& folder, const QString& relative) {
    return folder + QChar(kSep) + nativePath(relative);
}

QByteArray placeholder(const QString& name) {
    return "Corvane demo placeholder for " + name.toUtf8() + '\n';
}

// Builds the sandbox with the tools of the program folder.
class SandboxBuilder {
public:
    SandboxBuilder(const QString& programFolder, const std::function<void(const QString&)>& say)
        : m_programFolder(programFolder), m_say(say) {}

    void makeQuake2(const QString& folder, const QString& work) {
        tell(QStringLiteral("Quake 2 folder with three pak files: ") + folder);
        makeFolders(inFolder(folder, QStringLiteral("baseq2")));
        writeWholeFile(inFolder(folder, QStringLiteral("quake2.exe")), placeholder("quake2.exe"));
        for (int i = 0; i < int(std::size(packs::kPacks)); ++i) {
            const QString pak = QLatin1String(packs::kPacks[i].pak);
            makePak(inFolder(folder, QStringLiteral("baseq2/") + pak), inFolder(work, pak),
                    pakinfo::classicMembers(i));
        }
    }

    void makeQuake3(const QString& folder, const QString& work) {
        tell(QStringLiteral("Quake 3 folder with an empty qfbastion: ") + folder);
        makeFolders(inFolder(folder, QStringLiteral("baseq3")));
        makeFolders(inFolder(folder, QStringLiteral("qfbastion")));
        writeWholeFile(inFolder(folder, QStringLiteral("quake3.exe")), placeholder("quake3.exe"));
        const QString pk3Tree = inFolder(work, "pk3");
        makeFolders(pk3Tree);
        writeWholeFile(inFolder(pk3Tree, "readme.txt"), placeholder("baseq3/pak0.pk3"));
        run(zipCommand(inFolder(folder, QStringLiteral("baseq3/pak0.pk3")),
                       {QStringLiteral("readme.txt")}),
            pk3Tree);
    }

private:
    void tell(const QString& text) {
        if (m_say)
            m_say(text);
    }

    // Writes placeholder files below `tree` and packs them into `archive` with the pak tool.
    void makePak(const QString& archive, const QString& tree, const QStringList& members) {
        for (const QString& member : members) {
            makeFolders(inFolder(tree, member.section(u'/', 0, -2)));
            writeWholeFile(inFolder(tree, member), placeholder(member));
        }
        makeFolders(tree);
        run({kPakTool, {QStringLiteral("-c"), archive, tree}});
    }

    // Runs a tool of the program folder in `folder` (any folder when none is given).
    void run(const ToolCommand& command, const QString& folder = {}) {
        const io::Fd in(folder.isEmpty()
                            ? -1
                            : open(encodePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const ProgramRun result =
            runProgram(m_programFolder + QChar(kSep) + command.tool, command.arguments, in.get());
        if (!result.succeeded())
            throw Error(kPathFileAccessError, command.arguments.value(1), 0,
                        result.errorOutput.trimmed());
    }

    QString m_programFolder;
    std::function<void(const QString&)> m_say;
};

} // namespace

QString makeDemoSandbox(const QString& programFolder,
                        const std::function<void(const QString&)>& say) {
    const QString sandbox = makeTempFolder(QStringLiteral("corvane-demo"));
    const QString work = makeTempFolder(QStringLiteral("corvane-demo-work"));
    SandboxBuilder builder(programFolder, say);
    try {
        const QString quake2 = inFolder(sandbox, QStringLiteral("Games/Quake 2"));
        builder.makeQuake2(quake2, inFolder(work, "q2"));
        // Nested inside the first, so the search offers it first and the question comes twice.
        builder.makeQuake2(inFolder(quake2, QStringLiteral("backup/quake2")),
                           inFolder(work, "backup"));
        builder.makeQuake3(inFolder(sandbox, QStringLiteral("Games/Quake 3 Arena")), work);
    } catch (const Error&) {
        removeFolderTree(work);
        removeFolderTree(sandbox);
        throw;
    }
    removeFolderTree(work);
    return sandbox;
}

} // namespace corvane
