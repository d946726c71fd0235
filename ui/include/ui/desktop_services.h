#pragma once

// The services of the desktop program: modal message boxes, the toolkit's event pump, the end
// of the process, the executable's folder and the mounted drives.

#include "platform/folders.h"
#include "platform/services.h"

#include <QStringList>

#include <optional>

namespace corvane {

class DesktopServices : public Services {
public:
    // `driveRoots` replaces the mounted drives (the demo searches its sandbox alone).
    explicit DesktopServices(std::optional<QStringList> driveRoots = std::nullopt)
        : m_folders(std::move(driveRoots)) {}

    int messageBox(const QString& prompt, int buttons, const QString& title) override;
    void doEvents() override;
    [[noreturn]] void end(int status) override;
    QString programFolder() override;
    FolderSource& folders() override { return m_folders; }

private:
    DiskFolders m_folders;
};

// Runs an event procedure called by the toolkit. An uncaught run-time error shows the
// runtime's message and ends the program; an end that was observed rather than carried out
// (ProgramEnded) stops here.
void guarded(Services& services, const std::function<void()>& procedure);

} // namespace corvane
