#include "ui/PrivacySettingsDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <ctime>
#include <filesystem>

#include "prefs/BirdBroadcast.h"
#include "prefs/BirdSettings.h"
#include "prefs/P3PPreferences.h"
#include "prefs/RuleSetTransfer.h"
#include "ui/BirdCommands.h"
#include "ui/FileChooser.h"
#include "util/Error.h"

namespace perchlight {
namespace {

constexpr const char* kUnit = "PrivacySettingsDialog";
const QString kFilter = "XML Files (*.xml)";
const QString kSuffix = "xml";

struct LevelButton {
    PrivacyLevel level;
    const char* text;
};
constexpr LevelButton kLevels[5] = {
    {PrivacyLevel::kLevelLow, "&Low"},           {PrivacyLevel::kLevelMedium, "&Medium"},
    {PrivacyLevel::kLevelHigh, "H&igh"},         {PrivacyLevel::kLevelCustom, "&Custom"},
    {PrivacyLevel::kLevelImported, "Impor&ted"},
};

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

}  // namespace

PrivacySettingsDialog::PrivacySettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                             QWidget* parent, FileChooser* chooser)
    : QDialog(parent),
      m_preferences(preferences),
      m_broadcast(broadcast),
      m_chooser(chooser),
      m_openingLevel(preferences.privacyLevel()),
      m_level(m_openingLevel) {
    if (m_chooser == nullptr) {
        m_ownChooser = std::make_unique<FileChooser>();
        m_chooser = m_ownChooser.get();
    }
    setWindowTitle("Privacy Preference Settings");
    RuleSetTransfer::discardAbandonedStaged(preferences.locations().userDirectory());
    build();
    const CustomSettings settings = preferences.customSettings();
    for (int i = 0; i < kCustomSettingCount; ++i) {
        m_boxes[i]->setChecked(settings[i]);
    }
    refresh();
}

PrivacySettingsDialog::~PrivacySettingsDialog() {
    if (m_imported) {
        RuleSetTransfer::discardStaged(m_stagedPath);
    }
}

void PrivacySettingsDialog::build() {
    auto* columns = new QHBoxLayout;
    columns->addWidget(buildLevels());
    columns->addWidget(buildWarnings(), 1);

    auto* help = new QPushButton("&Help");
    DialogSupport::name(help, kHelpButton);
    connect(help, &QPushButton::clicked, this,
            [this] { m_openHelp(DialogSupport::helpPath(m_preferences, "privacy.html")); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(help);
    QPushButton* ok = DialogSupport::addOkCancel(*this, *buttons);
    connect(ok, &QPushButton::clicked, this,
            [this] { DialogSupport::guarded(this, [this] { confirm(); }); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(buttons);
}

QWidget* PrivacySettingsDialog::buildLevels() {
    auto* box = new QGroupBox;
    auto* layout = new QVBoxLayout(box);
    for (std::size_t i = 0; i < m_levelButtons.size(); ++i) {
        auto* button = new QRadioButton(kLevels[i].text);
        DialogSupport::name(button, kLevelButtons[i]);
        const PrivacyLevel level = kLevels[i].level;
        connect(button, &QRadioButton::clicked, this, [this, level] {
            DialogSupport::guarded(this, [this, level] { chooseLevel(level); });
        });
        layout->addWidget(button);
        m_levelButtons[i] = button;
    }
    layout->addStretch(1);
    auto* importButton = new QPushButton("I&mport Settings");
    DialogSupport::name(importButton, kImportButton);
    connect(importButton, &QPushButton::clicked, this,
            [this] { DialogSupport::guarded(this, [this] { importRuleSet(); }); });
    auto* exportButton = new QPushButton("E&xport Settings");
    DialogSupport::name(exportButton, kExportButton);
    connect(exportButton, &QPushButton::clicked, this,
            [this] { DialogSupport::guarded(this, [this] { exportRuleSet(); }); });
    layout->addWidget(importButton);
    layout->addWidget(exportButton);
    return box;
}

QWidget* PrivacySettingsDialog::buildWarnings() {
    auto* warnings = new QWidget;
    auto* layout = new QVBoxLayout(warnings);
    layout->setContentsMargins(0, 0, 0, 0);
    int index = 0;
    for (const CustomWarningGroup& group : customWarningGroups()) {
        auto* box = new QGroupBox(QString::fromUtf8(group.heading.data(), group.heading.size()));
        auto* boxLayout = new QVBoxLayout(box);
        boxLayout->setSpacing(2);
        for (const std::string_view text : group.boxes) {
            auto* check = new QCheckBox(QString::fromUtf8(text.data(), text.size()));
            DialogSupport::name(check, kFirstCustomBox + index);
            // clicked, not toggled: only the user's own tick makes the level Custom.
            connect(check, &QCheckBox::clicked, this, &PrivacySettingsDialog::customBoxClicked);
            boxLayout->addWidget(check);
            m_boxes[index++] = check;
        }
        layout->addWidget(box);
    }
    return warnings;
}

CustomSettings PrivacySettingsDialog::shownSettings() const {
    CustomSettings settings;
    for (int i = 0; i < kCustomSettingCount; ++i) {
        settings[i] = m_boxes[i]->isChecked();
    }
    return settings;
}

std::string PrivacySettingsDialog::importedPath() const {
    return m_preferences.locations().userFile(P3PPreferences::kImportedRuleSetFile);
}

void PrivacySettingsDialog::refresh() {
    for (std::size_t i = 0; i < m_levelButtons.size(); ++i) {
        m_levelButtons[i]->setChecked(kLevels[i].level == m_level);
    }
    m_levelButtons[4]->setEnabled(m_imported || isRegularFile(importedPath()));
    for (QCheckBox* box : m_boxes) {
        box->setEnabled(m_level != PrivacyLevel::kLevelImported);
    }
}

// The boxes show what the chosen level's rule set warns about; an imported rule set is not one
// of ours and shows none.
void PrivacySettingsDialog::chooseLevel(PrivacyLevel level) {
    m_level = level;
    CustomSettings settings;
    if (level != PrivacyLevel::kLevelImported) {
        settings = CustomRuleSet::read(
            m_preferences.locations().ruleSetFile(P3PPreferences::ruleSetFileName(level)));
    }
    for (int i = 0; i < kCustomSettingCount; ++i) {
        m_boxes[i]->setChecked(settings[i]);
    }
    refresh();
}

void PrivacySettingsDialog::customBoxClicked() {
    m_level = PrivacyLevel::kLevelCustom;
    refresh();
}

void PrivacySettingsDialog::importRuleSet() {
    const QString chosen =
        m_chooser->openFile(this, "Import Preferences From File", kFilter, kSuffix);
    if (chosen.isEmpty()) {
        return;
    }
    const std::string source = chosen.toStdString();
    bool blockRule = false;
    if (!RuleSetTransfer::validateImportedRuleSet(source, blockRule)) {
        PERCHLIGHT_RAISE("Invalid Appel File", kUnit);
    }
    if (blockRule) {
        DialogSupport::showWarning(this, RuleSetTransfer::kBlockRuleWarning);
    }
    if (m_stagedPath.empty()) {
        m_stagedPath = RuleSetTransfer::uniqueStagedPath(m_preferences.locations().userDirectory());
    }
    if (!RuleSetTransfer::copyRuleSet(source, m_stagedPath)) {
        DialogSupport::showError(this, "Failed to create Import file");
        return;
    }
    m_imported = true;
    chooseLevel(PrivacyLevel::kLevelImported);
}

// Exports what the dialog shows: the rule set staged or installed for the Imported level, else
// the rule set of the warnings as they are ticked now.
void PrivacySettingsDialog::exportRuleSet() {
    const QString chosen = m_chooser->saveFile(this, "Export Preferences To File",
                                               "MyPrivacyPreferences.xml", kFilter, kSuffix);
    if (chosen.isEmpty()) {
        return;
    }
    const std::string target = chosen.toStdString();
    if (m_level == PrivacyLevel::kLevelImported) {
        const std::string source = m_imported ? m_stagedPath : importedPath();
        if (!isRegularFile(source) || !RuleSetTransfer::copyRuleSet(source, target)) {
            DialogSupport::showError(this, "Failed to create Export file");
        }
        return;
    }
    CustomRuleSet::write(target, shownSettings(), CustomRuleSet::creationTime(std::time(nullptr)));
}

void PrivacySettingsDialog::confirm() {
    if (m_level != PrivacyLevel::kLevelImported) {
        if (m_level != PrivacyLevel::kLevelCustom && m_level == m_openingLevel) {
            reject();  // nothing to save
            return;
        }
        // The rule set is in place before the level that reads it is saved: no other process
        // ever evaluates the Custom level against a stale or half-written file.
        const CustomSettings settings = shownSettings();
        CustomRuleSet::write(m_preferences.locations().userFile(P3PPreferences::kCustomRuleSetFile),
                             settings, CustomRuleSet::creationTime(std::time(nullptr)));
        if (!saveLevel(m_level, settings)) {
            return;
        }
    } else if (m_imported) {
        if (!installImport()) {
            return;
        }
    } else if (m_openingLevel == PrivacyLevel::kLevelImported) {
        reject();
        return;
    } else if (!saveLevel(m_level, CustomSettings())) {
        return;
    }
    accept();
    broadcastChange();
}

// Stores the level and warnings and saves the settings key; on failure the store is put back, the
// message shown and the dialog stays open.
bool PrivacySettingsDialog::saveLevel(PrivacyLevel level, const CustomSettings& settings) {
    const PrivacyLevel previousLevel = m_preferences.privacyLevel();
    const CustomSettings previousSettings = m_preferences.customSettings();
    m_preferences.setPrivacyLevel(level);
    m_preferences.setCustomSettings(settings);
    const bool saved = DialogSupport::guarded(this, [this] { m_preferences.saveSettings(); });
    if (!saved) {
        m_preferences.setPrivacyLevel(previousLevel);
        m_preferences.setCustomSettings(previousSettings);
    }
    return saved;
}

// The staged file replaces the imported rule set in one rename. If that fails, the previous file
// and level stay in force, nothing is saved and the dialog stays open.
bool PrivacySettingsDialog::installImport() {
    if (!RuleSetTransfer::installStaged(m_stagedPath, m_preferences.locations().userDirectory())) {
        DialogSupport::showError(this, "Failed to create import file");
        return false;
    }
    m_imported = false;  // installed: nothing staged is left to remove
    return saveLevel(PrivacyLevel::kLevelImported, CustomSettings());
}

void PrivacySettingsDialog::broadcastChange() {
    if (m_broadcast == nullptr) {
        return;
    }
    // The other processes re-read the settings and rule set; then every window of every process,
    // this one included, checks its page again under the new preferences. That command also
    // switches checking on, so it is not sent while the user has switched checking off (the
    // dialog can be reached then from the installer's settings display).
    m_broadcast->broadcast(kBroadcastReloadSettingsAndRuleSet, false);
    if (BirdSettings::enabled) {
        m_broadcast->broadcast(kBroadcastCheckingEnabled, true);
    }
}

void PrivacySettingsDialog::done(int result) {
    // Whatever the way out, a staged file that OK did not install has no further use.
    if (m_imported) {
        RuleSetTransfer::discardStaged(m_stagedPath);
        m_imported = false;
    }
    QDialog::done(result);
}

}  // namespace perchlight
