#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "prefs/CustomRuleSet.h"
#include "prefs/PrivacyLevel.h"
#include "ui/DialogSupport.h"

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace perchlight {

class BirdBroadcast;
class FileChooser;
class P3PPreferences;

// "Privacy Preference Settings": the privacy level, the twelve custom warnings, and the import
// and export of rule sets. The dialog works on its own copy of the level and the warnings; the
// store, the settings key and the rule set files change only at OK, so pages checked meanwhile
// in other windows keep the level in force, and Cancel has nothing to undo but a staged import.
// An import is staged in a file of this dialog's own and installed by one rename at OK.
// GUI thread only.
class PrivacySettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kLevelButtons[5] = {312, 313, 314, 315, 330};
    static constexpr int kFirstCustomBox = 316;  // to 327, in CustomSetting order
    static constexpr int kImportButton = 328;
    static constexpr int kExportButton = 329;
    static constexpr int kHelpButton = 368;

    // broadcast may be null (nothing is sent); chooser null means Qt's file dialogs.
    PrivacySettingsDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                          QWidget* parent = nullptr, FileChooser* chooser = nullptr);
    ~PrivacySettingsDialog() override;

    void setHelpOpener(DialogSupport::HelpOpener opener) { m_openHelp = std::move(opener); }

    // The level and warnings as the dialog shows them.
    PrivacyLevel level() const { return m_level; }
    CustomSettings shownSettings() const;
    // This dialog's staging file (empty before the first import).
    QString stagedPath() const { return QString::fromStdString(m_stagedPath); }

    void done(int result) override;

  private:
    void build();
    QWidget* buildLevels();
    QWidget* buildWarnings();
    void refresh();
    void chooseLevel(PrivacyLevel level);
    void customBoxClicked();
    void importRuleSet();
    void exportRuleSet();
    void confirm();
    bool saveLevel(PrivacyLevel level, const CustomSettings& settings);
    bool installImport();
    void broadcastChange();
    std::string importedPath() const;

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    FileChooser* m_chooser;
    std::unique_ptr<FileChooser> m_ownChooser;
    DialogSupport::HelpOpener m_openHelp = DialogSupport::openHelpPage;
    const PrivacyLevel m_openingLevel;
    PrivacyLevel m_level;
    bool m_imported = false;  // a file is staged in this opening of the dialog
    std::string m_stagedPath;
    std::array<QRadioButton*, 5> m_levelButtons{};
    std::array<QCheckBox*, kCustomSettingCount> m_boxes{};
};

}  // namespace perchlight
