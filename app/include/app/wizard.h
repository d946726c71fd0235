#pragma once

#include "platform/game_paths.h"

#include <QObject>

#include <memory>

namespace corvane {

class Services;
class Startup;
class FrmQ2toQf;
class Extractnpak;

// The three screens in their one direction: disclaimer, search, conversion. A screen is
// created the first time it is shown and only hidden when left; there is no way back.
class Wizard : public QObject {
    Q_OBJECT
public:
    explicit Wizard(Services& services);
    ~Wizard() override;

    // Creates and shows the disclaimer screen.
    void start();

    Startup* startup() const { return m_startup.get(); }
    FrmQ2toQf* search() const { return m_search.get(); }
    Extractnpak* conversion() const { return m_conversion.get(); }
    const GamePaths& paths() const { return m_paths; }

    // "Continue" on the disclaimer: hide it, then show the search screen.
    void showSearch();
    // "Next" on the search screen: show the conversion screen, then hide the search.
    void showConversion();

private:
    Services& m_services;
    GamePaths m_paths;
    std::unique_ptr<Startup> m_startup;
    std::unique_ptr<FrmQ2toQf> m_search;
    std::unique_ptr<Extractnpak> m_conversion;
};

} // namespace corvane
