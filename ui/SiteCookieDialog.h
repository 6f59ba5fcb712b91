#pragma once

#include <QDialog>
#include <QString>
#include <array>

#include "ui/DialogSupport.h"

class QRadioButton;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// "Change My Settings for This Site": the cookie override of one site. OK compares the choice with
// the override the store holds then (another dialog or process may have changed it since
// opening), and writes the cookie preference file only for a change. GUI thread only.
class SiteCookieDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kDefaultButton = 308;
    // The buttons of the overrides 0 (always), 1 (this session) and 2 (never).
    static constexpr std::array<int, 3> kOverrideButtons = {309, 311, 310};

    // broadcast may be null (nothing is sent).
    SiteCookieDialog(P3PPreferences& preferences, BirdBroadcast* broadcast, const QString& site,
                     QWidget* parent = nullptr);

    void setHelpOpener(DialogSupport::HelpOpener opener) { m_openHelp = std::move(opener); }

  private:
    // The site's override in the store, -1 for none.
    int storedOverride() const;
    void showOverride(int value);
    void openOverrideList();
    void confirm();

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    const std::string m_site;
    DialogSupport::HelpOpener m_openHelp = DialogSupport::openHelpPage;
    QRadioButton* m_default = nullptr;
    std::array<QRadioButton*, 3> m_overrides{};
};

}  // namespace perchlight
