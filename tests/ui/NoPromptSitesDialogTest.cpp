#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "DialogDriver.h"
#include "PreferenceTestEnvironment.h"
#include "prefs/BirdBroadcast.h"
#include "prefs/P3PPreferences.h"
#include "ui/DialogSupport.h"
#include "ui/NoPromptSitesDialog.h"

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

void deleteRow(QWidget* dialog, const QString& site) {
    auto* list = dialog->findChild<QListWidget*>("list353");
    list->clearSelection();
    list->findItems(site, Qt::MatchExactly).first()->setSelected(true);
    dialog->findChild<QPushButton*>("button354")->click();
}

QStringList sitesOf(const P3PPreferences& preferences) {
    QStringList sites;
    for (const Url& site : preferences.noPromptList()) {
        sites << QString::fromStdString(site.str());
    }
    return sites;
}

}  // namespace

class NoPromptSitesDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env_ = std::make_unique<test::PreferenceTestEnvironment>();
        env_->writeSettings("");
        preferences_ = std::make_unique<P3PPreferences>(env_->home());
        preferences_->setNoPromptList({Url("http://a.example/"), Url("http://b.example/")});
        a_ = QString::fromStdString(Url("http://a.example/").str());
        b_ = QString::fromStdString(Url("http://b.example/").str());
    }
    void cleanup() {
        preferences_.reset();
        env_.reset();
    }

    void opening_showsTheListAndText() {
        QStringList shown;
        bool deleteEnabled = true;
        bool listEnabled = false;
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            QCOMPARE(dialog->windowTitle(), QString("No-prompt web sites"));
            QVERIFY(dialog->findChild<QLabel*>("static355")
                        ->text()
                        .startsWith("You have asked not to be prompted"));
            auto* list = dialog->findChild<QListWidget*>("list353");
            for (int row = 0; row < list->count(); ++row) {
                shown << list->item(row)->text();
            }
            deleteEnabled = dialog->findChild<QPushButton*>("button354")->isEnabled();
            listEnabled = list->isEnabled();
            test::screenshot(*dialog, "dialog242-noprompt");
            static_cast<QDialog*>(dialog)->reject();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        QVERIFY(driver.answered());
        QCOMPARE(shown, (QStringList{a_, b_}));
        QVERIFY(!deleteEnabled);
        QVERIFY(listEnabled);
    }

    // Another process added c.example after this one read the list: it stays.
    void deleting_keepsSitesAddedMeanwhile() {
        RecordingBroadcast broadcast;
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            deleteRow(dialog, a_);
            test::writeFile(env_->homeFile("NoPromptSites.p3p"),
                            "http://a.example/\nhttp://b.example/ http://c.example/\n");
            static_cast<QDialog*>(dialog)->accept();
        });
        NoPromptSitesDialog::run(*preferences_, &broadcast, nullptr);
        const QString c = QString::fromStdString(Url("http://c.example/").str());
        QCOMPARE(sitesOf(*preferences_), (QStringList{b_, c}));
        QCOMPARE(broadcast.commands, std::vector<int>{kBroadcastReloadNoPromptSites});
        QCOMPARE(broadcast.toAll, std::vector<bool>{false});
        P3PPreferences reread(env_->home());
        reread.loadNoPromptList(env_->homeFile("NoPromptSites.p3p").string());
        QCOMPARE(sitesOf(reread), (QStringList{b_, c}));
    }

    // One site deleted while another process added one: the counts agree, the deletion holds.
    void deleting_withEqualCounts_stillDeletes() {
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            deleteRow(dialog, b_);
            preferences_->addNoPrompt(Url("http://c.example/"), true);
            static_cast<QDialog*>(dialog)->accept();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        QVERIFY(!preferences_->isNoPrompt(Url("http://b.example/")));
        QVERIFY(preferences_->isNoPrompt(Url("http://c.example/")));
    }

    void okWithoutDeletion_writesNothing() {
        std::filesystem::remove(env_->homeFile("NoPromptSites.p3p"));
        RecordingBroadcast broadcast;
        DialogDriver driver("dialog242",
                            [](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
        NoPromptSitesDialog::run(*preferences_, &broadcast, nullptr);
        QVERIFY(!std::filesystem::exists(env_->homeFile("NoPromptSites.p3p")));
        QVERIFY(broadcast.commands.empty());
    }

    void cancel_changesNothing() {
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            deleteRow(dialog, a_);
            dialog->findChild<QCheckBox*>("check376")->click();
            static_cast<QDialog*>(dialog)->reject();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        QCOMPARE(sitesOf(*preferences_), (QStringList{a_, b_}));
        QVERIFY(!preferences_->dontWarnOnForms());
    }

    void f1_onlyBeeps() {
        int beeps = 0;
        const std::function<void()> beep = DialogSupport::beeper();
        DialogSupport::beeper() = [&beeps] { ++beeps; };
        bool openAfterF1 = false;
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QTest::keyClick(dialog->findChild<QListWidget*>("list353"), Qt::Key_F1);
            openAfterF1 = dialog->isVisible();
            static_cast<QDialog*>(dialog)->reject();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        DialogSupport::beeper() = beep;
        QVERIFY(openAfterF1);
        QCOMPARE(beeps, 1);
        QCOMPARE(sitesOf(*preferences_), (QStringList{a_, b_}));
    }

    void warnBox_greysTheList_andIsStoredOnOk() {
        bool listEnabled = true;
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            auto* list = dialog->findChild<QListWidget*>("list353");
            list->item(0)->setSelected(true);
            dialog->findChild<QCheckBox*>("check376")->click();
            listEnabled = list->isEnabled();
            QVERIFY(list->selectedItems().isEmpty());
            QVERIFY(!dialog->findChild<QPushButton*>("button354")->isEnabled());
            static_cast<QDialog*>(dialog)->accept();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        QVERIFY(!listEnabled);
        QVERIFY(preferences_->dontWarnOnForms());
    }

    void failingSave_showsAnErrorBox() {
        std::filesystem::remove(env_->settingsFile());
        QString text;
        DialogDriver driver("dialog242", [&](QWidget* dialog) {
            dialog->findChild<QCheckBox*>("check376")->click();
            static_cast<QDialog*>(dialog)->accept();
        });
        DialogDriver error("errorBox", [&](QWidget* box) {
            text = box->windowTitle() + ": " + static_cast<QMessageBox*>(box)->text();
            static_cast<QDialog*>(box)->accept();
        });
        NoPromptSitesDialog::run(*preferences_, nullptr, nullptr);
        QCOMPARE(text, QString("Error: Unable to access registry key"));
    }

  private:
    std::unique_ptr<test::PreferenceTestEnvironment> env_;
    std::unique_ptr<P3PPreferences> preferences_;
    QString a_;
    QString b_;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::NoPromptSitesDialogTest)
#include "NoPromptSitesDialogTest.moc"
