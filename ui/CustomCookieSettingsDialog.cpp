#include "ui/CustomCookieSettingsDialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "prefs/P3PPreferences.h"

namespace perchlight {
namespace {

// Indexed by CookieRuleValue; shown in the order all, none, matching.
constexpr std::array<const char*, 3> kAcceptTexts = {
    "Allow cookies only at web sites that &match my privacy preferences",
    "&Allow cookies at all web sites", "&Do not allow cookies at any web site"};
constexpr std::array<const char*, 3> kCrossSiteTexts = {
    "Allow cross-site cookies only at web sites that match my privacy preferences",
    "Allow cross-site cookies", "Do not allow cross-site cookies"};
constexpr std::array<int, 3> kShownOrder = {kCookieRuleAll, kCookieRuleNone, kCookieRuleMatching};

QGroupBox* buildChoice(const std::array<const char*, 3>& texts, const std::array<int, 3>& ids,
                       std::array<QRadioButton*, 3>& buttons, std::int32_t current) {
    auto* box = new QGroupBox;
    auto* layout = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    for (const int value : kShownOrder) {
        buttons[value] = new QRadioButton(texts[value]);
        DialogSupport::name(buttons[value], ids[value]);
        group->addButton(buttons[value]);
        layout->addWidget(buttons[value]);
    }
    if (current >= 0 && current < 3) {
        buttons[current]->setChecked(true);
    }
    return box;
}

// The checked value, or the current one when nothing in the group is checked.
std::int32_t chosen(const std::array<QRadioButton*, 3>& buttons, std::int32_t current) {
    for (std::size_t value = 0; value < buttons.size(); ++value) {
        if (buttons[value]->isChecked()) {
            return static_cast<std::int32_t>(value);
        }
    }
    return current;
}

}  // namespace

CustomCookieSettingsDialog::CustomCookieSettingsDialog(P3PPreferences& preferences,
                                                       BirdBroadcast* broadcast, QWidget* parent)
    : QDialog(parent), m_preferences(preferences), m_broadcast(broadcast) {
    setWindowTitle("Select Custom Cookie Settings");
    const CookiePreferences cookies = preferences.cookiePreferences();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildChoice(kAcceptTexts, kAcceptButtons, m_accept, cookies.customAccept));
    layout->addWidget(
        buildChoice(kCrossSiteTexts, kCrossSiteButtons, m_crossSite, cookies.customCrossSite));

    auto* help = new QPushButton("&Help");
    help->setObjectName("buttonHelp");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    QPushButton* ok = DialogSupport::addOkCancel(*this, *buttons);
    layout->addLayout(buttons);

    connect(help, &QPushButton::clicked, this,
            [this] { m_openHelp(DialogSupport::helpPath(m_preferences, "cookies.html#custom")); });
    connect(ok, &QPushButton::clicked, this, &CustomCookieSettingsDialog::confirm);
}

void CustomCookieSettingsDialog::confirm() {
    const bool written = DialogSupport::changeCookiePreferences(
        m_preferences, m_broadcast, this, [this](CookiePreferences& cookies) {
            cookies.customAccept = chosen(m_accept, cookies.customAccept);
            cookies.customCrossSite = chosen(m_crossSite, cookies.customCrossSite);
            return true;
        });
    if (written) {
        accept();
    }
}

}  // namespace perchlight
