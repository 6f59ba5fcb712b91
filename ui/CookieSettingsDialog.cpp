#include "ui/CookieSettingsDialog.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "prefs/P3PPreferences.h"
#include "ui/CustomCookieSettingsDialog.h"
#include "ui/DialogSupport.h"

namespace perchlight {
namespace {

constexpr std::array<const char*, 4> kSettingTexts = {
    "Allow cookies only if they have privacy policies that &match my privacy preferences",
    "&Always allow cookies", "&Never allow cookies", "&Custom settings"};

}  // namespace

CookieSettingsDialog::CookieSettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                           QWidget* parent)
    : QDialog(parent), m_preferences(preferences), m_broadcast(broadcast) {
    setWindowTitle("Cookie Settings");
    auto* layout = new QVBoxLayout(this);
    auto* group = new QButtonGroup(this);
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        m_buttons[i] = new QRadioButton(kSettingTexts[i]);
        DialogSupport::name(m_buttons[i], kSettingButtons[i]);
        group->addButton(m_buttons[i], static_cast<int>(i));
        layout->addWidget(m_buttons[i]);
    }
    m_select = new QPushButton("&Select");
    DialogSupport::name(m_select, kSelectButton);
    auto* selectRow = new QHBoxLayout;
    selectRow->addSpacing(20);
    selectRow->addWidget(m_select);
    selectRow->addStretch(1);
    layout->addLayout(selectRow);

    auto* help = new QPushButton("&Help");
    help->setObjectName("buttonHelp");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    QPushButton* ok = DialogSupport::addOkCancel(*this, *buttons);
    layout->addLayout(buttons);

    const int setting = preferences.cookiePreferences().setting;
    if (setting >= 0 && setting < static_cast<int>(m_buttons.size())) {
        m_buttons[setting]->setChecked(true);
    }
    m_select->setEnabled(setting == kCookiesCustom);
    connect(m_buttons[kCookiesCustom], &QRadioButton::toggled, m_select, &QPushButton::setEnabled);
    connect(m_select, &QPushButton::clicked, this, &CookieSettingsDialog::selectCustom);
    connect(help, &QPushButton::clicked, this, [this] {
        m_openHelp(DialogSupport::helpPath(m_preferences, "cookies.html#settings"));
    });
    connect(ok, &QPushButton::clicked, this, &CookieSettingsDialog::confirm);
}

int CookieSettingsDialog::chosenSetting() const {
    for (std::size_t i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons[i]->isChecked()) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void CookieSettingsDialog::selectCustom() {
    CustomCookieSettingsDialog custom(m_preferences, m_broadcast, this);
    custom.setHelpOpener(m_openHelp);
    DialogSupport::runWindowModal(custom);
}

void CookieSettingsDialog::confirm() {
    const int setting = chosenSetting();
    const bool written = DialogSupport::changeCookiePreferences(
        m_preferences, m_broadcast, this, [setting](CookiePreferences& cookies) {
            if (setting < 0 || cookies.setting == setting) {
                return false;
            }
            cookies.setting = setting;
            return true;
        });
    if (written) {
        accept();
    }
}

}  // namespace perchlight
