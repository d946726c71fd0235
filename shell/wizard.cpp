#include "wizard.h"

#include "conversion/extractnpak.h"
#include "discovery/frm_q2toqf.h"
#include "platform.h"
#include "startup.h"

namespace corvane {

Wizard::Wizard() = default;
Wizard::~Wizard() = default;

void Wizard::start() {
    m_startup = std::make_unique<Startup>();
    connect(m_startup.get(), &Startup::OKButton_Click, this,
            [this] { guarded([this] { showSearch(); }); });
    m_startup->show();
}

void Wizard::showSearch() {
    m_startup->hide();
    if (!m_search) {
        m_search = std::make_unique<FrmQ2toQf>();
        connect(m_search.get(), &FrmQ2toQf::nextClicked, this,
                [this] { guarded([this] { showConversion(); }); });
    }
    m_search->show();
}

void Wizard::showConversion() {
    if (!m_conversion)
        m_conversion = std::make_unique<Extractnpak>();
    m_conversion->show();
    m_search->hide();
}

} // namespace corvane
