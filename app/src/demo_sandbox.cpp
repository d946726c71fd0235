#include "app/demo_sandbox.h"

#include "conversion/manifests.h"
#include "conversion/packs.h"
#include "conversion/tool_commands.h"
#include "io/fd.h"
#include "platform/files.h"
#include "platform/process.h"
#include "search/layouts.h"

#include <cstdio>

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

    void makeQuake2(const QString& folder, const QString& work, bool withProgram = true) {
        tell(QStringLiteral("Quake 2 folder with three pak files: ") + folder);
        const QString base = makeGame(Game::Quake2, folder, withProgram);
        for (int i = 0; i < int(std::size(packs::kPacks)); ++i) {
            const QString pak = QLatin1String(packs::kPacks[i].pak);
            makePak(inFolder(base, pak), inFolder(work, pak), pakinfo::classicMembers(i));
        }
    }

    // A Quake 3 folder with its program and an empty mod folder, or its data alone.
    void makeQuake3(const QString& folder, const QString& work, bool windows = true) {
        const layouts::GameFacts& quake3 = layouts::facts(Game::Quake3);
        tell((windows ? QStringLiteral("Quake 3 folder with an empty %1: ")
                            .arg(QLatin1String(quake3.modFolder))
                      : QStringLiteral("Quake 3 data folder: ")) +
             folder);
        const QString base = makeGame(Game::Quake3, folder, windows);
        if (windows)
            makeFolders(inFolder(folder, QLatin1String(quake3.modFolder)));
        const QString pk3Tree = inFolder(work, "pk3");
        makeFolders(pk3Tree);
        writeWholeFile(inFolder(pk3Tree, "readme.txt"),
                       placeholder(QLatin1String(quake3.dataPack)));
        run(zipCommand(inFolder(base, QLatin1String(quake3.dataPack)),
                       {QStringLiteral("readme.txt")}),
            pk3Tree);
    }

private:
    // The game's folder in its Windows layout: its program beside its base folder, which it
    // returns.
    QString makeGame(Game game, const QString& folder, bool withProgram) {
        const layouts::GameFacts& known = layouts::facts(game);
        QString base = inFolder(folder, QLatin1String(known.baseFolder));
        makeFolders(base);
        if (withProgram)
            writeWholeFile(inFolder(folder, QLatin1String(known.program)),
                           placeholder(QLatin1String(known.program)));
        return base;
    }

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
        if (!folder.isEmpty() && !in) // else the tool would run in the current folder
            throw Error::fromSystem(errno, kPathNotFound, folder);
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
                        const std::function<void(const QString&)>& say, DemoLayout layout) {
    QString sandbox = makeTempFolder(QStringLiteral("corvane-demo"));
    const QString work = makeTempFolder(QStringLiteral("corvane-demo-work"));
    SandboxBuilder builder(programFolder, say);
    try {
        if (layout == DemoLayout::Debian) {
            const QString system = inFolder(sandbox, QStringLiteral("usr/share"));
            for (const layouts::Place& place : layouts::kPlaces) {
                if (place.root != layouts::Root::SystemData)
                    continue;
                const QString folder = inFolder(system, QLatin1String(place.path));
                if (place.game == Game::Quake2)
                    builder.makeQuake2(folder, inFolder(work, "q2"), false);
                else
                    builder.makeQuake3(folder, work, false);
            }
            makeFolders(
                inFolder(sandbox, QStringLiteral("home/player/.q3a/") +
                                      QLatin1String(layouts::facts(Game::Quake3).modFolder)));
        } else {
            const QString quake2 = inFolder(sandbox, QStringLiteral("Games/Quake 2"));
            builder.makeQuake2(quake2, inFolder(work, "q2"));
            // Nested inside the first, so the search offers it first and the question comes
            // twice.
            builder.makeQuake2(inFolder(quake2, QStringLiteral("backup/quake2")),
                               inFolder(work, "backup"));
            builder.makeQuake3(inFolder(sandbox, QStringLiteral("Games/Quake 3 Arena")), work);
        }
    } catch (const Error&) {
        // The error that stopped the building is the one to tell: what cannot be removed after
        // it is only said on standard error, and stays in the temporary folder.
        for (const QString& folder : {work, sandbox}) {
            try {
                removeFolderTree(folder);
            } catch (const Error& left) {
                (void)std::fprintf(stderr, "corvane: %s\n", // lost if it cannot be written
                                   left.plain().toLocal8Bit().constData());
            }
        }
        throw;
    }
    removeFolderTree(work);
    return sandbox;
}

} // namespace corvane
