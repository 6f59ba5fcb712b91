#include "ui/SiteCookieDialog.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "prefs/P3PPreferences.h"
#include "ui/CookieOverrideListDialog.h"
#include "ui/DialogSupport.h"

namespace perchlight {
namespace {

// Indexed by SiteCookieOverride.
constexpr std::array<const char*, 3> kOverrideTexts = {
    "Allow cookies whenever I return to this web site", "Allow cookies for this session only",
    "Don't allow cookies for this site"};
// Shown in the order always, never, this session.
constexpr std::array<int, 3> kShownOrder = {kOverrideAlwaysAllow, kOverrideNeverAllow,
                                            kOverrideThisSession};

}  // namespace

SiteCookieDialog::SiteCookieDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                   const QString& site, QWidget* parent)
    : QDialog(parent),
      m_preferences(preferences),
      m_broadcast(broadcast),
      m_site(site.toStdString()) {
    setWindowTitle("Cookie Settings for : " + site);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QButtonGroup(this);
    m_default = new QRadioButton("Use Default Cookie Settings");
    DialogSupport::name(m_default, kDefaultButton);
    group->addButton(m_default);
    layout->addWidget(m_default);
    for (const int value : kShownOrder) {
        m_overrides[value] = new QRadioButton(kOverrideTexts[value]);
        DialogSupport::name(m_overrides[value], kOverrideButtons[value]);
        group->addButton(m_overrides[value]);
        layout->addWidget(m_overrides[value]);
    }

    auto* list = new QPushButton("&Override Site List");
    list->setObjectName("buttonOverrideSiteList");
    auto* help = new QPushButton("&Help");
    help->setObjectName("buttonHelp");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(list);
    buttons->addWidget(help);
    QPushButton* ok = DialogSupport::addOkCancel(*this, *buttons);
    layout->addLayout(buttons);

    showOverride(storedOverride());
    connect(list, &QPushButton::clicked, this, &SiteCookieDialog::openOverrideList);
    connect(help, &QPushButton::clicked, this,
            [this] { m_openHelp(DialogSupport::helpPath(m_preferences, "cookies.html#site")); });
    connect(ok, &QPushButton::clicked, this, &SiteCookieDialog::confirm);
}

int SiteCookieDialog::storedOverride() const {
    const auto overrides = m_preferences.cookiePreferences().siteOverrides;
    const auto found = overrides.find(m_site);
    return found != overrides.end() && found->second >= 0 && found->second < 3 ? found->second : -1;
}

void SiteCookieDialog::showOverride(int value) {
    (value < 0 ? m_default : m_overrides[value])->setChecked(true);
}

// Deleting this site in the list is a choice too: the buttons follow it, so that OK does not
// bring the override back.
void SiteCookieDialog::openOverrideList() {
    const int before = storedOverride();
    CookieOverrideListDialog list(m_preferences, m_broadcast, this);
    DialogSupport::runWindowModal(list);
    const int after = storedOverride();
    if (after != before) {
        showOverride(after);
    }
}

void SiteCookieDialog::confirm() {
    int chosen = -1;  // the default settings: no override
    for (std::size_t value = 0; value < m_overrides.size(); ++value) {
        if (m_overrides[value]->isChecked()) {
            chosen = static_cast<int>(value);
        }
    }
    const bool written = DialogSupport::changeCookiePreferences(
        m_preferences, m_broadcast, this, [this, chosen](CookiePreferences& cookies) {
            const auto found = cookies.siteOverrides.find(m_site);
            if (chosen < 0) {
                if (found == cookies.siteOverrides.end()) {
                    return false;
                }
                cookies.siteOverrides.erase(found);
                return true;
            }
            if (found != cookies.siteOverrides.end() && found->second == chosen) {
                return false;
            }
            cookies.siteOverrides[m_site] = chosen;
            return true;
        });
    if (written) {
        accept();
    }
}

}  // namespace perchlight
