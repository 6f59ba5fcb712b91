#pragma once

#include <QDialog>
#include <array>

#include "ui/DialogSupport.h"

class QPushButton;
class QRadioButton;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// "Cookie Settings": the general cookie choice, and the way to the custom choice ("&Select").
// OK compares with the store as it is then, writes the cookie preference file only for a change
// and tells the other processes. GUI thread only.
class CookieSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    // The radio buttons of the settings 0 to 3.
    static constexpr std::array<int, 4> kSettingButtons = {330, 331, 332, 333};
    static constexpr int kSelectButton = 334;

    // broadcast may be null (nothing is sent).
    CookieSettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                         QWidget* parent = nullptr);

    void setHelpOpener(DialogSupport::HelpOpener opener) { m_openHelp = std::move(opener); }

  private:
    int chosenSetting() const;
    void selectCustom();
    void confirm();

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    DialogSupport::HelpOpener m_openHelp = DialogSupport::openHelpPage;
    std::array<QRadioButton*, 4> m_buttons{};
    QPushButton* m_select = nullptr;
};

}  // namespace perchlight
