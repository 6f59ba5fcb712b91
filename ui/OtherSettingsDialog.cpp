#include "ui/OtherSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

#include "prefs/BirdBroadcast.h"
#include "prefs/P3PPreferences.h"
#include "ui/DialogSupport.h"
#include "ui/ErrorBox.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

constexpr std::array<std::uint32_t, 4> kModifiers = {1, 3, 5, 7};
constexpr std::array<std::uint32_t, 4> kKeys = {120, 121, 122, 123};

const char* const kShortcutNote =
    "On Linux desktops CTRL+ALT with a function key usually switches to a text console, so the "
    "browser never sees it; CTRL or CTRL+SHIFT works everywhere. The shortcut works while a "
    "browser window is active.";

int indexOf(const std::array<std::uint32_t, 4>& values, std::uint32_t value) {
    for (std::size_t index = 0; index < values.size(); ++index) {
        if (values[index] == value) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

std::uint32_t valueAt(const std::array<std::uint32_t, 4>& values, int index, std::uint32_t old) {
    return index >= 0 && index < static_cast<int>(values.size())
               ? values[static_cast<std::size_t>(index)]
               : old;
}

std::uint32_t withBit(std::uint32_t value, std::uint32_t bit, bool set) {
    return set ? (value | bit) : (value & ~bit);
}

}  // namespace

OtherSettingsDialog::OtherSettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                         QWidget* parent)
    : QDialog(parent), m_preferences(preferences), m_broadcast(broadcast) {
    setObjectName(QStringLiteral("dialog225"));
    setWindowTitle(QStringLiteral("Select Other Settings"));
    // Context help: What's This on each control of the sounds group.
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    auto* layout = new QVBoxLayout(this);
    buildSounds(*layout);

    auto* animation = new QGroupBox(QStringLiteral("Bird Icon Animation"), this);
    auto* animationLayout = new QVBoxLayout(animation);
    m_noAnimation = checkBox(QStringLiteral("Disable Animation"), 387, animation);
    animationLayout->addWidget(m_noAnimation);
    layout->addWidget(animation);

    auto* popups = new QGroupBox(QStringLiteral("PopUp Windows"), this);
    auto* popupsLayout = new QVBoxLayout(popups);
    m_blockPopups = checkBox(QStringLiteral("Block PopUp Windows"), 388, popups);
    popupsLayout->addWidget(m_blockPopups);
    layout->addWidget(popups);

    buildShortcut(*layout);

    // Kept for the settings it stands for; nothing on this system offers that check.
    m_upgrade = checkBox(QString(), 345, this);
    m_upgrade->setVisible(false);

    auto* buttons = new QDialogButtonBox(this);
    auto* help = buttons->addButton(QStringLiteral("&Help"), QDialogButtonBox::HelpRole);
    help->setObjectName(QStringLiteral("button368"));
    auto* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("button2"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &OtherSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OtherSettingsDialog::reject);
    connect(help, &QPushButton::clicked, this,
            [this] { emit helpRequested(QStringLiteral("settings.html")); });
    connect(m_allSounds, &QCheckBox::clicked, this, &OtherSettingsDialog::allSoundsClicked);
    showSettings();
}

QCheckBox* OtherSettingsDialog::checkBox(const QString& text, int id, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QStringLiteral("check%1").arg(id));
    return box;
}

void OtherSettingsDialog::buildSounds(QLayout& layout) {
    auto* sounds = new QGroupBox(QStringLiteral("Sounds"), this);
    sounds->setObjectName(QStringLiteral("group359"));
    sounds->setWhatsThis(QStringLiteral(
        "Perchlight can play a short sound when it has checked a page: one when the site's "
        "policy matches your preferences, one when it does not, one when no policy was found."));
    auto* soundsLayout = new QVBoxLayout(sounds);
    m_allSounds = checkBox(QStringLiteral("Disable &All Sounds"), 349, sounds);
    m_allSounds->setWhatsThis(
        QStringLiteral("Check this to silence Perchlight completely. The boxes below keep their "
                       "marks but have no effect while it is checked."));
    m_unknownSound = checkBox(QStringLiteral("Disable Sound for Un&known Policy"), 356, sounds);
    m_unknownSound->setWhatsThis(QStringLiteral(
        "No sound when a site has no privacy policy that Perchlight can find or read."));
    m_unmatchedSound = checkBox(QStringLiteral("Disable Sound for &Unmatched Policy"), 357, sounds);
    m_unmatchedSound->setWhatsThis(QStringLiteral(
        "No sound when a site's privacy policy does not match your privacy preferences."));
    m_matchedSound = checkBox(QStringLiteral("Disable Sound for &Matched Policy"), 358, sounds);
    m_matchedSound->setWhatsThis(
        QStringLiteral("No sound when a site's privacy policy matches your privacy preferences."));
    m_cachedSound =
        checkBox(QStringLiteral("Disable Sound if Policy is already Cached"), 386, sounds);
    for (QCheckBox* box :
         {m_allSounds, m_unknownSound, m_unmatchedSound, m_matchedSound, m_cachedSound}) {
        soundsLayout->addWidget(box);
    }
    layout.addWidget(sounds);
}

void OtherSettingsDialog::buildShortcut(QLayout& layout) {
    auto* shortcut = new QGroupBox(QStringLiteral("Shortcut Key"), this);
    shortcut->setObjectName(QStringLiteral("group381"));
    auto* shortcutLayout = new QVBoxLayout(shortcut);
    auto* keys = new QHBoxLayout;
    m_modifier = new QComboBox(shortcut);
    m_modifier->setObjectName(QStringLiteral("combo383"));
    m_modifier->addItems({QStringLiteral("CTRL"), QStringLiteral("CTRL+ALT"),
                          QStringLiteral("CTRL+SHIFT"), QStringLiteral("CTRL+ALT+SHIFT")});
    m_key = new QComboBox(shortcut);
    m_key->setObjectName(QStringLiteral("combo384"));
    m_key->addItems({QStringLiteral("F9"), QStringLiteral("F10"), QStringLiteral("F11"),
                     QStringLiteral("F12")});
    keys->addWidget(m_modifier);
    keys->addWidget(new QLabel(QStringLiteral("+"), shortcut));
    keys->addWidget(m_key);
    keys->addStretch();
    shortcutLayout->addLayout(keys);
    auto* note = new QLabel(QString::fromLatin1(kShortcutNote), shortcut);
    note->setObjectName(QStringLiteral("shortcutNote"));
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    shortcutLayout->addWidget(note);
    layout.addWidget(shortcut);
}

void OtherSettingsDialog::showSettings() {
    const PreferenceValues values = m_preferences.snapshot();
    m_upgrade->setChecked(values.upgrade);
    m_noAnimation->setChecked((values.userPreferences & kUserPreferenceNoAnimation) != 0);
    m_blockPopups->setChecked((values.userPreferences & kUserPreferenceBlockPopups) != 0);
    const bool silent = values.sounds == 0;
    m_allSounds->setChecked(silent);
    if (!silent) {
        m_unknownSound->setChecked((values.sounds & kSoundUnknownPolicy) == 0);
        m_unmatchedSound->setChecked((values.sounds & kSoundUnmatchedPolicy) == 0);
        m_matchedSound->setChecked((values.sounds & kSoundMatchedPolicy) == 0);
        m_cachedSound->setChecked((values.sounds & kSoundFromCache) == 0);
    }
    allSoundsClicked();
    m_modifier->setCurrentIndex(indexOf(kModifiers, values.hotkeyModifier));
    m_key->setCurrentIndex(indexOf(kKeys, values.hotkeyKey));
}

void OtherSettingsDialog::allSoundsClicked() {
    const bool enabled = !m_allSounds->isChecked();
    for (QCheckBox* box : {m_unknownSound, m_unmatchedSound, m_matchedSound, m_cachedSound}) {
        box->setEnabled(enabled);
    }
}

void OtherSettingsDialog::accept() {
    bool changed = false;
    bool keyChanged = false;
    PreferenceValues old;
    {
        MonitorLock guard(m_preferences.lock());
        PreferenceValues values = m_preferences.snapshot();
        old = values;
        values.upgrade = m_upgrade->isChecked();
        values.userPreferences =
            withBit(values.userPreferences, kUserPreferenceNoAnimation, m_noAnimation->isChecked());
        values.userPreferences =
            withBit(values.userPreferences, kUserPreferenceBlockPopups, m_blockPopups->isChecked());
        values.sounds = 0;
        if (!m_allSounds->isChecked()) {
            values.sounds |= m_unknownSound->isChecked() ? 0 : kSoundUnknownPolicy;
            values.sounds |= m_unmatchedSound->isChecked() ? 0 : kSoundUnmatchedPolicy;
            values.sounds |= m_matchedSound->isChecked() ? 0 : kSoundMatchedPolicy;
            values.sounds |= m_cachedSound->isChecked() ? 0 : kSoundFromCache;
        }
        values.hotkeyModifier = valueAt(kModifiers, m_modifier->currentIndex(), old.hotkeyModifier);
        values.hotkeyKey = valueAt(kKeys, m_key->currentIndex(), old.hotkeyKey);
        keyChanged =
            values.hotkeyModifier != old.hotkeyModifier || values.hotkeyKey != old.hotkeyKey;
        changed = keyChanged || values.upgrade != old.upgrade || values.sounds != old.sounds ||
                  values.userPreferences != old.userPreferences;
        if (changed) {
            m_preferences.restore(values);
        }
    }
    QPointer<OtherSettingsDialog> self(this);
    P3PPreferences& preferences = m_preferences;  // the dialog may go under the error box
    if (changed) {
        if (!ErrorBox::saveSettings(this, preferences)) {
            // What could not be stored does not hold either: the values go back to the stored
            // ones and the dialog stays open with the user's choices, to try again or cancel.
            MonitorLock guard(preferences.lock());
            preferences.restore(old);
            return;
        }
        if (m_broadcast != nullptr) {
            m_broadcast->broadcast(kBroadcastReloadSettings, false);
        }
    }
    if (self != nullptr && keyChanged) {
        QPointer<QMessageBox> note = new QMessageBox(
            QMessageBox::Information, QStringLiteral("Note"),
            QStringLiteral("The short-cut key change will take effect after you restart your "
                           "browser."),
            QMessageBox::Ok, this);
        note->setObjectName(QStringLiteral("restartNote"));
        DialogSupport::runWindowModal(*note);
        delete note;
    }
    if (self != nullptr) {
        done(kOk);
    }
}

}  // namespace perchlight
