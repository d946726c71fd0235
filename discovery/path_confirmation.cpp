// The user's choice of one Quake 2 and one Quake 3 folder among those found.

#include "frm_q2toqf.h"

#include "shell/pakinfo.h"
#include "shell/platform.h"

namespace corvane {

void FrmQ2toQf::confirmPaths() {
    // Both games must be there before any question is asked.
    if (lstFoundFileq2->count() == 0) {
        MsgBox(QStringLiteral("Quake 2 not found, Install it and try this again!"));
        End();
    }
    if (lstFoundFileq3->count() == 0) {
        MsgBox(QStringLiteral("Quake 3 not found, Install it and try this again!"));
        End();
    }
    pakinfo::Quake2Path =
        chooseFolder(lstFoundFileq2, QStringLiteral("Is this the right Quake 2 Path to use?"),
                     QStringLiteral("Select correct Quake2 Path"),
                     QStringLiteral("Install Quake 2, then rerun this application!"));
    pakinfo::Quake3Path =
        chooseFolder(lstFoundFileq3, QStringLiteral("Is this the right Quake 3 Path to use?"),
                     QStringLiteral("Is this the correct Quake3 Path"),
                     QStringLiteral("Install Quake 3, then rerun this application!"));
    if (pakinfo::Quake2Path.isEmpty())
        End();
    if (pakinfo::Quake3Path.isEmpty())
        End();
    cmdNext->setEnabled(true);
}

// Offers the folders found one at a time, first found first; the first Yes chooses. No to
// the last one shows `refusal` and ends the program.
QString FrmQ2toQf::chooseFolder(QListWidget* found, const QString& question, const QString& title,
                                const QString& refusal) {
    const Counter16 count = Counter16::from(found->count());
    for (Counter16 i = 0; i < count; ++i) {
        const QString folder = found->item(i)->text();
        if (MsgBox(question + QStringLiteral("\r\n") + folder, kYesNo, title) == kYes)
            return folder;
        if (i == count - 1) {
            MsgBox(refusal);
            End();
        }
    }
    return QString();
}

} // namespace corvane
