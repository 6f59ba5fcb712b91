#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "DialogDriver.h"
#include "PreferenceTestEnvironment.h"
#include "prefs/BirdBroadcast.h"
#include "prefs/P3PPreferences.h"
#include "ui/OtherSettingsDialog.h"

namespace perchlight {
namespace {

using test::DialogDriver;

class RecordingBroadcast : public BirdBroadcast {
  public:
    void broadcast(int command, bool allProcesses) override {
        commands.push_back(command);
        toAll.push_back(allProcesses);
    }
    std::vector<int> commands;
    std::vector<bool> toAll;
};

QCheckBox* box(QWidget& dialog, int id) {
    return dialog.findChild<QCheckBox*>(QStringLiteral("check%1").arg(id));
}

}  // namespace

class OtherSettingsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env_ = std::make_unique<test::PreferenceTestEnvironment>();
        env_->writeSettings("Enable Sounds=6\nHotkey Mod=3\nHotkey Keys=121\nUser Preferences=0\n");
        preferences_ = std::make_unique<P3PPreferences>(env_->home());
        QVERIFY(preferences_->loadSettings());
    }
    void cleanup() {
        preferences_.reset();
        env_.reset();
    }

    void sounds6_showsTheNegatedBits() {
        OtherSettingsDialog dialog(*preferences_, nullptr);
        QCOMPARE(dialog.objectName(), QString("dialog225"));
        QCOMPARE(dialog.windowTitle(), QString("Select Other Settings"));
        QVERIFY(!box(dialog, 349)->isChecked());
        QVERIFY(box(dialog, 356)->isChecked());
        QVERIFY(!box(dialog, 357)->isChecked());
        QVERIFY(!box(dialog, 358)->isChecked());
        QVERIFY(box(dialog, 386)->isChecked());
        QVERIFY(box(dialog, 356)->isEnabled());
        QVERIFY(!box(dialog, 345)->isVisible());
        QCOMPARE(dialog.findChild<QComboBox*>("combo383")->currentText(), QString("CTRL+ALT"));
        QCOMPARE(dialog.findChild<QComboBox*>("combo384")->currentText(), QString("F10"));
        // Why the default may never reach the browser on this platform.
        QVERIFY(dialog.findChild<QLabel*>("shortcutNote")->text().contains("CTRL+ALT"));
        dialog.show();
        test::screenshot(dialog, "dialog225-other");
    }

    void whatsThis_explainsTheSoundControls() {
        OtherSettingsDialog dialog(*preferences_, nullptr);
        QVERIFY(!dialog.findChild<QWidget*>("group359")->whatsThis().isEmpty());
        for (const int id : {349, 356, 357, 358}) {
            QVERIFY(!box(dialog, id)->whatsThis().isEmpty());
        }
    }

    void disableAllSounds_storesZero_andGreysTheBoxesNextTime() {
        RecordingBroadcast broadcast;
        {
            OtherSettingsDialog dialog(*preferences_, &broadcast);
            box(dialog, 349)->click();
            QVERIFY(!box(dialog, 356)->isEnabled());
            QVERIFY(box(dialog, 356)->isChecked());  // marks stay
            dialog.findChild<QPushButton*>("button1")->click();
            QCOMPARE(dialog.result(), OtherSettingsDialog::kOk);
        }
        QCOMPARE(preferences_->snapshot().sounds, 0u);
        QVERIFY(test::readFile(env_->settingsFile()).find("Enable Sounds=0") != std::string::npos);
        QCOMPARE(broadcast.commands, std::vector<int>{kBroadcastReloadSettings});
        QCOMPARE(broadcast.toAll, std::vector<bool>{false});
        OtherSettingsDialog again(*preferences_, nullptr);
        QVERIFY(box(again, 349)->isChecked());
        QVERIFY(!box(again, 356)->isEnabled() && !box(again, 386)->isEnabled());
    }

    void animationOnly_storesAndBroadcasts_withoutNote() {
        RecordingBroadcast broadcast;
        OtherSettingsDialog dialog(*preferences_, &broadcast);
        box(dialog, 387)->click();
        DialogDriver note("restartNote", [](QWidget* box) { box->close(); });
        dialog.findChild<QPushButton*>("button1")->click();
        QVERIFY(!note.answered());
        QCOMPARE(preferences_->snapshot().userPreferences, kUserPreferenceNoAnimation);
        QCOMPARE(broadcast.commands, std::vector<int>{kBroadcastReloadSettings});
    }

    void keyChange_storesTheKey_andShowsTheRestartNote() {
        OtherSettingsDialog dialog(*preferences_, nullptr);
        dialog.findChild<QComboBox*>("combo384")->setCurrentText("F12");
        QString text;
        DialogDriver note("restartNote", [&](QWidget* box) {
            text = box->windowTitle() + ": " + static_cast<QMessageBox*>(box)->text();
            static_cast<QDialog*>(box)->accept();
        });
        dialog.findChild<QPushButton*>("button1")->click();
        QVERIFY(note.answered());
        QCOMPARE(text, QString("Note: The short-cut key change will take effect after you "
                               "restart your browser."));
        QCOMPARE(preferences_->snapshot().hotkeyKey, 123u);
    }

    void unknownKey_showsNoSelection_andStaysUnlessChosen() {
        env_->writeSettings("Enable Sounds=6\nHotkey Mod=2\nHotkey Keys=90\n");
        QVERIFY(preferences_->loadSettings());
        RecordingBroadcast broadcast;
        OtherSettingsDialog dialog(*preferences_, &broadcast);
        QCOMPARE(dialog.findChild<QComboBox*>("combo383")->currentIndex(), -1);
        QCOMPARE(dialog.findChild<QComboBox*>("combo384")->currentIndex(), -1);
        dialog.findChild<QPushButton*>("button1")->click();
        QCOMPARE(preferences_->snapshot().hotkeyModifier, 2u);
        QCOMPARE(preferences_->snapshot().hotkeyKey, 90u);
        QVERIFY(broadcast.commands.empty());
    }

    void cancel_changesNothing() {
        OtherSettingsDialog dialog(*preferences_, nullptr);
        box(dialog, 349)->click();
        dialog.findChild<QPushButton*>("button2")->click();
        QCOMPARE(dialog.result(), OtherSettingsDialog::kCancel);
        QCOMPARE(preferences_->snapshot().sounds, 6u);
    }

    // What cannot be stored is not kept either: the values stay as stored, nobody is told, and
    // the dialog stays open with the user's choices.
    void failingSave_showsAnErrorBox_keepsTheDialogAndTheStoredValues() {
        std::filesystem::remove(env_->settingsFile());
        RecordingBroadcast broadcast;
        OtherSettingsDialog dialog(*preferences_, &broadcast);
        dialog.show();
        box(dialog, 387)->click();
        QString text;
        DialogDriver error("errorBox", [&](QWidget* box) {
            text = box->windowTitle() + ": " + static_cast<QMessageBox*>(box)->text();
            static_cast<QDialog*>(box)->accept();
        });
        dialog.findChild<QPushButton*>("button1")->click();
        QCOMPARE(text, QString("Error: Unable to access registry key"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        QVERIFY(box(dialog, 387)->isChecked());
        QCOMPARE(preferences_->snapshot().userPreferences, 0u);
        QVERIFY(broadcast.commands.empty());
    }

  private:
    std::unique_ptr<test::PreferenceTestEnvironment> env_;
    std::unique_ptr<P3PPreferences> preferences_;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::OtherSettingsDialogTest)
#include "OtherSettingsDialogTest.moc"
