// The user's choice of one Quake 2 and one Quake 3 folder among those found.

#include "search/installation_search.h"

#include "platform/counter16.h"
#include "platform/game_paths.h"
#include "platform/services.h"

namespace corvane {

void InstallationSearch::confirmPaths() {
    // Both games must be there before any question is asked.
    if (lstFoundFileq2.ListCount() == 0) {
        m_services.MsgBox(QStringLiteral("Quake 2 not found, Install it and try this again!"));
        m_services.End();
    }
    if (lstFoundFileq3.ListCount() == 0) {
        m_services.MsgBox(QStringLiteral("Quake 3 not found, Install it and try this again!"));
        m_services.End();
    }
    m_paths.quake2 =
        chooseFolder(lstFoundFileq2, QStringLiteral("Is this the right Quake 2 Path to use?"),
                     QStringLiteral("Select correct Quake2 Path"),
                     QStringLiteral("Install Quake 2, then rerun this application!"));
    m_paths.quake3 =
        chooseFolder(lstFoundFileq3, QStringLiteral("Is this the right Quake 3 Path to use?"),
                     QStringLiteral("Is this the correct Quake3 Path"),
                     QStringLiteral("Install Quake 3, then rerun this application!"));
    if (m_paths.quake2.isEmpty())
        m_services.End();
    if (m_paths.quake3.isEmpty())
        m_services.End();
    m_view.setNextEnabled(true);
}

// Offers the folders found one at a time, first found first; the first Yes chooses. No to
// the last one shows `refusal` and ends the program.
QString InstallationSearch::chooseFolder(const FoundList& found, const QString& question,
                                         const QString& title, const QString& refusal) {
    const Counter16 count = Counter16::from(found.ListCount());
    for (Counter16 i = 0; i < count; ++i) {
        const QString& folder = found.List(i);
        if (m_services.MsgBox(question + QStringLiteral("\r\n") + folder, kYesNo, title) == kYes)
            return folder;
    }
    // No to the last folder: there is nothing left to offer.
    if (count > 0) {
        m_services.MsgBox(refusal);
        m_services.End();
    }
    return QString();
}

} // namespace corvane
