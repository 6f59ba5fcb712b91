#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QRadioButton>
#include <QTest>

#include "DialogTestSupport.h"
#include "prefs/BirdSettings.h"
#include "prefs/CustomRuleSet.h"
#include "prefs/RuleSetTransfer.h"
#include "ui/BirdCommands.h"
#include "ui/PrivacySettingsDialog.h"

namespace perchlight {
namespace {

using test::DialogEnvironment;
using test::MessageBoxAnswerer;
using test::RecordingBroadcast;
using test::ScriptedChooser;

const QByteArray kBlockRules =
    "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1'>"
    "<appel:RULE behavior='block'/><appel:RULE behavior='block'/>"
    "<appel:OTHERWISE behavior='request'/></appel:RULESET>";
const QByteArray kPlainRules =
    "<appel:RULESET xmlns:appel='http://www.w3.org/2001/02/APPELv1'>"
    "<appel:RULE behavior='Block'/><appel:RULE behavior='request'/></appel:RULESET>";
const QString kBlockWarning = QString("Warning: ") + RuleSetTransfer::kBlockRuleWarning;

QAbstractButton* button(const QDialog& dialog, int id) {
    auto* found = dialog.findChild<QAbstractButton*>(QString("button%1").arg(id));
    if (found == nullptr) {
        qFatal("no button%d", id);
    }
    return found;
}

QRadioButton* levelButton(const QDialog& dialog, PrivacyLevel level) {
    return static_cast<QRadioButton*>(
        button(dialog, PrivacySettingsDialog::kLevelButtons[static_cast<int>(level) - 1]));
}

CustomSettings ruleSetOf(const QString& path) {
    return CustomRuleSet::read(path.toStdString());
}

// A dialog over an environment, with its broadcast and file chooser, shown as the user sees it.
struct OpenDialog {
    explicit OpenDialog(DialogEnvironment& environment)
        : dialog(*environment.preferences, &broadcast, nullptr, &chooser) {
        dialog.setHelpOpener([this](const QString& path) { helpOpened << path; });
        dialog.show();
    }
    void import(const QString& path) {
        chooser.openAnswer = path;
        button(dialog, PrivacySettingsDialog::kImportButton)->click();
    }
    RecordingBroadcast broadcast;
    ScriptedChooser chooser;
    QStringList helpOpened;
    PrivacySettingsDialog dialog;
};

}  // namespace

class PrivacySettingsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void opening_showsTheLevelAndGreysImportedWithoutItsFile() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        QCOMPARE(open.dialog.windowTitle(), QString("Privacy Preference Settings"));
        QVERIFY(levelButton(open.dialog, PrivacyLevel::kLevelMedium)->isChecked());
        QVERIFY(!levelButton(open.dialog, PrivacyLevel::kLevelImported)->isEnabled());
        QCOMPARE(levelButton(open.dialog, PrivacyLevel::kLevelHigh)->text(), QString("H&igh"));
        QCOMPARE(button(open.dialog, 321)->text(), QString("Via telephone "));
        QCOMPARE(open.dialog.shownSettings(), ruleSetOf(environment.file("appel-medium.xml")));
    }

    void levelButtons_tickTheBoxesOfThatLevelsRuleSet() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        for (const auto& [level, file] : {std::pair{PrivacyLevel::kLevelHigh, "appel-high.xml"},
                                          std::pair{PrivacyLevel::kLevelLow, "appel-low.xml"}}) {
            levelButton(open.dialog, level)->click();
            QCOMPARE(open.dialog.level(), level);
            QCOMPARE(open.dialog.shownSettings(), ruleSetOf(environment.file(file)));
        }
        QVERIFY(ruleSetOf(environment.file("appel-high.xml")).any());
        // Nothing reaches the store before OK: other windows keep checking under Medium.
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelMedium);
    }

    void tickingABox_selectsCustom() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        levelButton(open.dialog, PrivacyLevel::kLevelLow)->click();
        const bool before = open.dialog.shownSettings()[CustomSetting::healthUse];
        button(open.dialog, PrivacySettingsDialog::kFirstCustomBox)->click();
        QCOMPARE(open.dialog.level(), PrivacyLevel::kLevelCustom);
        QVERIFY(levelButton(open.dialog, PrivacyLevel::kLevelCustom)->isChecked());
        for (const PrivacyLevel level :
             {PrivacyLevel::kLevelLow, PrivacyLevel::kLevelMedium, PrivacyLevel::kLevelHigh}) {
            QVERIFY(!levelButton(open.dialog, level)->isChecked());
        }
        QCOMPARE(open.dialog.shownSettings()[CustomSetting::healthUse], !before);
    }

    void ok_writesTheCustomRuleSetSavesTheLevelAndBroadcasts() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        button(open.dialog, 325)->click();  // noAccess
        const CustomSettings shown = open.dialog.shownSettings();
        button(open.dialog, 1)->click();
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(ruleSetOf(environment.file("p3ppreferences.xml")), shown);
        QCOMPARE(environment.savedLevel(), 4u);
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelCustom);
        QCOMPARE(environment.preferences->customSettings(), shown);
        const std::vector<std::pair<int, bool>> expected = {
            {kBroadcastReloadSettingsAndRuleSet, false}, {kBroadcastCheckingEnabled, true}};
        QVERIFY(open.broadcast.sent == expected);
    }

    void ok_whileCheckingIsOff_leavesItOff() {
        DialogEnvironment environment;
        BirdSettings::enabled = false;
        OpenDialog open(environment);
        levelButton(open.dialog, PrivacyLevel::kLevelHigh)->click();
        button(open.dialog, 1)->click();
        BirdSettings::reset();
        const std::vector<std::pair<int, bool>> expected = {
            {kBroadcastReloadSettingsAndRuleSet, false}};
        QVERIFY(open.broadcast.sent == expected);
        QCOMPARE(environment.savedLevel(), 3u);
    }

    void ok_withTheOpeningLevelUnchanged_savesNothing() {
        DialogEnvironment environment("Privacy Level=3\n");
        OpenDialog open(environment);
        levelButton(open.dialog, PrivacyLevel::kLevelLow)->click();
        levelButton(open.dialog, PrivacyLevel::kLevelHigh)->click();
        button(open.dialog, 1)->click();
        QCOMPARE(open.dialog.result(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(environment.file("p3ppreferences.xml")));
        QVERIFY(open.broadcast.sent.empty());
    }

    void cancel_afterChanges_leavesFilesAndLevelUntouched() {
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), kPlainRules);
        const QByteArray settingsBefore =
            environment.read(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Halvard/Perchlight.conf");
        const CustomSettings settingsInStore = environment.preferences->customSettings();
        OpenDialog open(environment);
        levelButton(open.dialog, PrivacyLevel::kLevelHigh)->click();
        button(open.dialog, 327)->click();
        open.import(environment.file("rules.xml"));
        const QString staged = open.dialog.stagedPath();
        QVERIFY(QFile::exists(staged));
        button(open.dialog, 2)->click();
        QCOMPARE(open.dialog.result(), int(QDialog::Rejected));
        QVERIFY(!QFile::exists(staged));
        QVERIFY(!QFile::exists(environment.file("appel-imported.xml")));
        QVERIFY(!QFile::exists(environment.file("p3ppreferences.xml")));
        QCOMPARE(
            environment.read(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Halvard/Perchlight.conf"),
            settingsBefore);
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelMedium);
        QCOMPARE(environment.preferences->customSettings(), settingsInStore);
        QVERIFY(open.broadcast.sent.empty());
    }

    void import_withBlockRules_warnsOnceAndBecomesImportedAtOk() {
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), kBlockRules);
        OpenDialog open(environment);
        MessageBoxAnswerer answerer;
        open.import(environment.file("rules.xml"));
        QCOMPARE(answerer.seen, QStringList{kBlockWarning});
        QCOMPARE(open.chooser.asked,
                 (QStringList{"Import Preferences From File", "XML Files (*.xml)", "xml"}));
        QCOMPARE(open.dialog.level(), PrivacyLevel::kLevelImported);
        QVERIFY(levelButton(open.dialog, PrivacyLevel::kLevelImported)->isEnabled());
        QVERIFY(levelButton(open.dialog, PrivacyLevel::kLevelImported)->isChecked());
        QVERIFY(!button(open.dialog, 316)->isEnabled());
        QVERIFY(open.dialog.shownSettings().none());
        const QString staged = open.dialog.stagedPath();
        button(open.dialog, 1)->click();
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(environment.read(environment.file("appel-imported.xml")), kBlockRules);
        QVERIFY(!QFile::exists(staged));
        QCOMPARE(environment.savedLevel(), 5u);
        std::string active;
        QVERIFY(environment.preferences->readActiveRuleSet(active));
        QCOMPARE(QByteArray::fromStdString(active), kBlockRules);  // evaluations now use it
        QCOMPARE(answerer.seen.size(), 1);
    }

    void ok_atAnotherLevelAfterAnImport_removesTheStagedFile() {
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), kPlainRules);
        OpenDialog open(environment);
        open.import(environment.file("rules.xml"));
        const QString staged = open.dialog.stagedPath();
        levelButton(open.dialog, PrivacyLevel::kLevelHigh)->click();
        button(open.dialog, 1)->click();
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(environment.savedLevel(), 3u);
        QVERIFY(!QFile::exists(staged));
        QVERIFY(!QFile::exists(environment.file("appel-imported.xml")));
    }

    void import_withABlockRuleSpelledOtherwise_warnsNot() {
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), kPlainRules);
        OpenDialog open(environment);
        MessageBoxAnswerer answerer;
        open.import(environment.file("rules.xml"));
        QVERIFY(answerer.seen.isEmpty());
        QCOMPARE(open.dialog.level(), PrivacyLevel::kLevelImported);
    }

    void import_ofAFileThatIsNoRuleSet_showsTheErrorAndChangesNothing_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("message");
        QTest::newRow("not well-formed")
            << QByteArray("<appel:RULESET><appel:RULE") << QString("Error: XML parse error");
        QTest::newRow("another root")
            << QByteArray("<RULESET/>") << QString("Error: Invalid Appel File");
        QTest::newRow("empty") << QByteArray() << QString("Error: XML parse error");
    }
    void import_ofAFileThatIsNoRuleSet_showsTheErrorAndChangesNothing() {
        QFETCH(QByteArray, document);
        QFETCH(QString, message);
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), document);
        OpenDialog open(environment);
        MessageBoxAnswerer answerer;
        open.import(environment.file("rules.xml"));
        QCOMPARE(answerer.seen, QStringList{message});
        QVERIFY(open.dialog.isVisible());
        QCOMPARE(open.dialog.level(), PrivacyLevel::kLevelMedium);
        QVERIFY(!levelButton(open.dialog, PrivacyLevel::kLevelImported)->isEnabled());
        QVERIFY(open.dialog.stagedPath().isEmpty() || !QFile::exists(open.dialog.stagedPath()));
        QCOMPARE(QDir(environment.home()).entryList({"temp-*"}, QDir::Files), QStringList());
    }

    void ok_whenTheRenameFails_keepsThePreviousImportedFileAndLevel() {
        DialogEnvironment environment;
        environment.write(environment.file("appel-imported.xml"), kPlainRules);
        environment.write(environment.file("rules.xml"), kBlockRules);
        OpenDialog open(environment);
        QVERIFY(levelButton(open.dialog, PrivacyLevel::kLevelImported)->isEnabled());
        MessageBoxAnswerer answerer;
        open.import(environment.file("rules.xml"));
        QVERIFY(QFile::remove(open.dialog.stagedPath()));  // the staged file is gone: no rename
        button(open.dialog, 1)->click();
        QCOMPARE(answerer.seen.last(), QString("Error: Failed to create import file"));
        QVERIFY(open.dialog.isVisible());
        QCOMPARE(environment.read(environment.file("appel-imported.xml")), kPlainRules);
        QCOMPARE(environment.savedLevel(), 2u);
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelMedium);
        QVERIFY(open.broadcast.sent.empty());
    }

    void ok_whenTheCustomRuleSetCannotBeWritten_showsErrorAndSavesNothing() {
        DialogEnvironment environment;
        QVERIFY(QDir(environment.home()).mkpath("p3ppreferences.xml/occupied"));
        OpenDialog open(environment);
        button(open.dialog, 316)->click();
        MessageBoxAnswerer answerer;
        button(open.dialog, 1)->click();
        QCOMPARE(answerer.seen.size(), 1);
        QVERIFY(answerer.seen.first().startsWith("Error: "));
        QVERIFY(open.dialog.isVisible());
        QCOMPARE(environment.savedLevel(), 2u);
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelMedium);
        QVERIFY(open.broadcast.sent.empty());
        QCOMPARE(QDir(environment.home()).entryList(QDir::Files | QDir::Hidden).filter("p3ppref"),
                 QStringList());  // no temporary file left behind
    }

    void export_writesWhatTheDialogShows() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        button(open.dialog, 326)->click();
        open.chooser.saveAnswer = environment.file("out.xml");
        button(open.dialog, PrivacySettingsDialog::kExportButton)->click();
        QCOMPARE(open.chooser.asked,
                 (QStringList{"Export Preferences To File", "MyPrivacyPreferences.xml",
                              "XML Files (*.xml)", "xml"}));
        QCOMPARE(ruleSetOf(environment.file("out.xml")), open.dialog.shownSettings());
        QVERIFY(!QFile::exists(environment.file("p3ppreferences.xml")));

        // At the Imported level, right after an import, the staged rule set is what is shown.
        environment.write(environment.file("appel-imported.xml"), kPlainRules);
        environment.write(environment.file("rules.xml"), kBlockRules);
        MessageBoxAnswerer answerer;
        open.import(environment.file("rules.xml"));
        button(open.dialog, PrivacySettingsDialog::kExportButton)->click();
        QCOMPARE(environment.read(environment.file("out.xml")), kBlockRules);
    }

    void export_cancelled_writesNothing() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        button(open.dialog, PrivacySettingsDialog::kExportButton)->click();
        QCOMPARE(QDir(environment.home()).entryList({"*.xml"}, QDir::Files).size(), 3);
    }

    void help_opensThePrivacyTopic() {
        DialogEnvironment environment;
        OpenDialog open(environment);
        button(open.dialog, PrivacySettingsDialog::kHelpButton)->click();
        QCOMPARE(open.helpOpened, QStringList{environment.home() + "/help/privacy.html"});
    }

    // Modal use as the bird menu opens it: a timer armed before exec() does the user's part.
    void exec_closedByTheWindow_removesTheStagedFile() {
        DialogEnvironment environment;
        environment.write(environment.file("rules.xml"), kPlainRules);
        RecordingBroadcast broadcast;
        ScriptedChooser chooser;
        chooser.openAnswer = environment.file("rules.xml");
        PrivacySettingsDialog dialog(*environment.preferences, &broadcast, nullptr, &chooser);
        QString staged;
        QTimer::singleShot(0, &dialog, [&] {
            button(dialog, PrivacySettingsDialog::kImportButton)->click();
            staged = dialog.stagedPath();
            dialog.close();
        });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(!staged.isEmpty());
        QVERIFY(!QFile::exists(staged));
        QCOMPARE(environment.preferences->privacyLevel(), PrivacyLevel::kLevelMedium);
    }

    // The file choosers that users see: Qt's dialogs with the title, filter, suffix and name.
    void defaultChooser_showsQtsFileDialogs() {
        QTemporaryDir folder;
        QStringList seen;
        QTimer answer;
        answer.setInterval(5);
        connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                return;
            }
            seen << dialog->windowTitle() << dialog->nameFilters().join(";")
                 << dialog->defaultSuffix()
                 << QFileInfo(dialog->selectedFiles().value(0)).fileName();
            dialog->setDirectory(folder.path());
            dialog->selectFile("chosen");
            static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
        });
        answer.start();
        FileChooser chooser;
        const QString saved =
            chooser.saveFile(nullptr, "Export Preferences To File", "MyPrivacyPreferences.xml",
                             "XML Files (*.xml)", "xml");
        QCOMPARE(saved, folder.filePath("chosen.xml"));
        QCOMPARE(seen, (QStringList{"Export Preferences To File", "XML Files (*.xml)", "xml",
                                    "MyPrivacyPreferences.xml"}));
        seen.clear();
        QVERIFY(QFile(folder.filePath("chosen.xml")).open(QIODevice::WriteOnly));
        const QString opened =
            chooser.openFile(nullptr, "Import Preferences From File", "XML Files (*.xml)", "xml");
        QCOMPARE(opened, folder.filePath("chosen.xml"));
        QCOMPARE(seen.mid(0, 3),
                 (QStringList{"Import Preferences From File", "XML Files (*.xml)", "xml"}));
    }

    void screenshot() {
        const QString folder = qEnvironmentVariable("PERCHLIGHT_SCREENSHOT_DIR");
        if (folder.isEmpty()) {
            QSKIP("PERCHLIGHT_SCREENSHOT_DIR names no folder for pictures");
        }
        DialogEnvironment environment;
        OpenDialog open(environment);
        levelButton(open.dialog, PrivacyLevel::kLevelHigh)->click();
        open.dialog.adjustSize();
        QVERIFY(open.dialog.grab().save(folder + "/privacy-settings.png"));
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::PrivacySettingsDialogTest)
#include "PrivacySettingsDialogTest.moc"
