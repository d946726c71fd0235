#pragma once

// What the program's logic needs from outside itself: the user's answers, the event pump,
// the end of the program, the program folder and the drives to search. The desktop, the
// command line and the tests each provide their own.

#include <QString>

#include <cstdlib>

namespace corvane {

class FolderSource;

// Message box buttons: OK only, or Yes and No. What a box returns: OK, Yes or No.
enum MsgBoxButtons : int { kOkOnly = 0, kYesNo = 4 };
enum MsgBoxResult : int { kOk = 1, kYes = 6, kNo = 7 };

class Services {
public:
    virtual ~Services() = default;

    // A modal message box. Without a title it shows the program's name, "Corvane".
    virtual int messageBox(const QString& prompt, int buttons, const QString& title) = 0;
    // Handles pending user-interface events, then returns.
    virtual void doEvents() = 0;
    // Ends the program at once with the exit status `status`. One that cannot leave the
    // process throws ProgramEnded instead, which the boundary of the event procedures stops.
    [[noreturn]] virtual void end(int status) = 0;
    // The folder of the program and its tools, without a trailing separator.
    virtual QString programFolder() = 0;
    // The drives and folders the search walks.
    virtual FolderSource& folders() = 0;

    int MsgBox(const QString& prompt, int buttons = kOkOnly, const QString& title = {}) {
        return messageBox(prompt, buttons, title);
    }
    [[noreturn]] void End(int status = 0) {
        end(status);
        std::abort(); // end() never returns
    }
    void DoEvents() { doEvents(); }
};

// Thrown by Services::end() where the end of the program is observed rather than carried out.
struct ProgramEnded {};

} // namespace corvane
