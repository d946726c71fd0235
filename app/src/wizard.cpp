#include "app/wizard.h"

#include "ui/desktop_services.h"
#include "ui/extractnpak.h"
#include "ui/frm_q2toqf.h"
#include "ui/startup.h"

namespace corvane {

Wizard::Wizard(Services& services) : m_services(services) {}
Wizard::~Wizard() = default;

void Wizard::start() {
    m_startup = std::make_unique<Startup>(m_services);
    connect(m_startup.get(), &Startup::OKButton_Click, this,
            [this] { guarded(m_services, [this] { showSearch(); }); });
    m_startup->show();
}

void Wizard::showSearch() {
    m_startup->hide();
    if (!m_search) {
        m_search = std::make_unique<FrmQ2toQf>(m_services, m_paths);
        connect(m_search.get(), &FrmQ2toQf::nextClicked, this,
                [this] { guarded(m_services, [this] { showConversion(); }); });
    }
    m_search->show();
}

void Wizard::showConversion() {
    if (!m_conversion)
        m_conversion = std::make_unique<Extractnpak>(m_services, m_paths);
    m_conversion->show();
    m_search->hide();
}

} // namespace corvane
