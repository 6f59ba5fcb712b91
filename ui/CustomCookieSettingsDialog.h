#pragma once

#include <QDialog>
#include <array>

#include "ui/DialogSupport.h"

class QRadioButton;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// "Select Custom Cookie Settings": how the custom cookie setting treats a site's own cookies and
// cross-site cookies. OK stores the two choices, writes the cookie preference file and tells the
// other processes. GUI thread only.
class CustomCookieSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    // The buttons of the values 0 (matching), 1 (all) and 2 (none).
    static constexpr std::array<int, 3> kAcceptButtons = {337, 336, 338};
    static constexpr std::array<int, 3> kCrossSiteButtons = {343, 342, 344};

    // broadcast may be null (nothing is sent).
    CustomCookieSettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                               QWidget* parent = nullptr);

    void setHelpOpener(DialogSupport::HelpOpener opener) { m_openHelp = std::move(opener); }

  private:
    void confirm();

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    DialogSupport::HelpOpener m_openHelp = DialogSupport::openHelpPage;
    std::array<QRadioButton*, 3> m_accept{};
    std::array<QRadioButton*, 3> m_crossSite{};
};

}  // namespace perchlight
