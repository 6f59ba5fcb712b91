#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "DialogDriver.h"
#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "browser/AgentServices.h"
#include "prefs/BirdBroadcast.h"
#include "ui/FormWarning.h"
#include "ui/FormWarningDialog.h"

namespace perchlight {
namespace {

using test::DialogDriver;
using test::LoopbackServer;
using test::PreferenceTestEnvironment;

std::string siteFile(const std::string& site, const std::string& name) {
    return test::readFile(std::filesystem::path(PERCHLIGHT_EXAMPLES_DIR) / site / "w3c" / name);
}

// A site whose answers for /w3c/ are given; every request is counted.
class Site {
  public:
    Site(std::string referenceFile, std::string policy) {
        server_.server().Get("/w3c/p3p.xml", [this, referenceFile](const httplib::Request&,
                                                                   httplib::Response& response) {
            ++requests;
            const bool html = referenceFile.rfind("<html", 0) == 0;
            response.set_content(referenceFile, html ? "text/html" : "application/xml");
        });
        server_.server().Get("/w3c/policy.xml",
                             [this, policy](const httplib::Request&, httplib::Response& response) {
                                 ++requests;
                                 response.set_content(policy, "application/xml");
                             });
        server_.start();
    }
    QUrl url(const std::string& path) const {
        return QUrl(QString::fromStdString(server_.url(path)));
    }
    LoopbackServer& server() { return server_; }

    std::atomic<int> requests{0};

  private:
    LoopbackServer server_;
};

class RecordingBroadcast : public BirdBroadcast {
  public:
    void broadcast(int command, bool allProcesses) override {
        commands.push_back(command);
        toAll.push_back(allProcesses);
    }
    std::vector<int> commands;
    std::vector<bool> toAll;
};

// Clicks a check box of the warning (or none), then the button, remembering what it showed.
struct Answer {
    Answer(QString box, QString chosen) : checkBox(std::move(box)), button(std::move(chosen)) {}

    QString checkBox;
    QString button;
    QString message;
    bool moreInfoShown = false;

    void operator()(QWidget* dialog) {
        message = dialog->findChild<QLabel*>("static377")->text();
        moreInfoShown = dialog->findChild<QPushButton*>("button3")->isVisible();
        test::screenshot(*dialog, moreInfoShown ? "dialog241-formwarning-conflict"
                                                : "dialog241-formwarning-nopolicy");
        if (!checkBox.isEmpty()) {
            dialog->findChild<QCheckBox*>(checkBox)->setChecked(true);
        }
        dialog->findChild<QPushButton*>(button)->click();
    }
};

}  // namespace

class FormWarningTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        env_ = std::make_unique<PreferenceTestEnvironment>();
        env_->installRuleSets();
        env_->writeSettings("");
        std::filesystem::copy_file(test::dataDir() / "BaseDataschema-std.xml",
                                   env_->homeFile("BaseDataschema-std.xml"));
        services_ = std::make_unique<AgentServices>(env_->home());
        window_ = std::make_unique<QWidget>();
    }
    void cleanup() {
        window_.reset();
        services_.reset();
        env_.reset();
        QVERIFY(test::transfersEnd());
    }

    void conflictingSite_asks_andNoStopsTheForm() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        Answer answer{{}, "button2"};
        DialogDriver driver("dialog241", std::ref(answer));
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QVERIFY(driver.answered());
        QCOMPARE(answer.message,
                 QString("The privacy policy of this form does not match your preferences."));
        QVERIFY(answer.moreInfoShown);
    }

    void conflictingSite_yesLetsTheFormGo() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        Answer answer{{}, "button1"};
        DialogDriver driver("dialog241", std::ref(answer));
        QVERIFY(warning.allowSubmission(site.url("/order")));
        QVERIFY(driver.answered());
    }

    void matchingSite_goesWithoutQuestion() {
        Site site(siteFile("matching", "p3p.xml"), siteFile("matching", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        QSignalSpy started(&warning, &FormWarning::checkStarted);
        QSignalSpy ended(&warning, &FormWarning::checkEnded);
        MatchResult result;
        QCOMPARE(warning.checkForm(site.url("/order"), result), 0);
        QCOMPARE(started.count(), 1);
        QCOMPARE(ended.count(), 1);
        DialogDriver driver("dialog241", [](QWidget* dialog) { dialog->close(); });
        QVERIFY(warning.allowSubmission(site.url("/order")));
        QVERIFY(!driver.answered());
    }

    void moreInfo_showsTheSummaryOfTheFormsPolicy() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        QString summaryTitle;
        DialogDriver summary("dialog219", [&](QWidget* dialog) {
            summaryTitle = dialog->windowTitle();
            static_cast<QDialog*>(dialog)->accept();
        });
        DialogDriver driver("dialog241", [](QWidget* dialog) {
            dialog->findChild<QPushButton*>("button3")->click();
            dialog->findChild<QPushButton*>("button2")->click();
        });
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QVERIFY(summary.answered());
        QCOMPARE(summaryTitle, QString("Policy Summary"));
    }

    // A hurried Enter or Escape keeps the form.
    void enterAndEscape_answerNo() {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            FormWarningDialog dialog(std::nullopt, false, {});
            DialogDriver driver("dialog241", [key](QWidget* shown) {
                QTest::keyClick(shown->focusWidget() ? shown->focusWidget() : shown, key);
            });
            QCOMPARE(dialog.exec(), FormWarningDialog::kNo);
        }
    }

    void htmlAtWellKnownLocation_isNoPolicy_withoutCrash() {
        Site site("<html><body>Not here</body></html>", "");
        FormWarning warning(*services_, window_.get());
        Answer answer{{}, "button2"};
        DialogDriver driver("dialog241", std::ref(answer));
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QCOMPARE(answer.message, QString("No privacy policy can be found for this form."));
        QVERIFY(!answer.moreInfoShown);
    }

    void noPromptSite_isNeverChecked() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        services_->preferences().addNoPrompt(Url(Url(site.server().url("/")).base()), true);
        FormWarning warning(*services_, window_.get());
        DialogDriver driver("dialog241", [](QWidget* dialog) { dialog->close(); });
        QVERIFY(warning.allowSubmission(site.url("/order")));
        QVERIFY(!driver.answered());
        QCOMPARE(site.requests.load(), 0);
    }

    void anySiteBox_storesTheSetting_andNoStillStops() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        RecordingBroadcast broadcast;
        services_->preferences().setBroadcast(&broadcast);
        FormWarning warning(*services_, window_.get());
        Answer answer{"check352", "button2"};
        DialogDriver driver("dialog241", std::ref(answer));
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QVERIFY(services_->preferences().dontWarnOnForms());
        QVERIFY(test::readFile(env_->settingsFile()).find("1") != std::string::npos);
        QCOMPARE(broadcast.commands, std::vector<int>{kBroadcastReloadSettings});
        // From now on no form is checked.
        const int requests = site.requests;
        QVERIFY(warning.allowSubmission(site.url("/order")));
        QCOMPARE(site.requests.load(), requests);
    }

    void anySiteBox_whenTheSettingsCannotBeStored_showsAnError() {
        std::filesystem::remove(env_->settingsFile());
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        Answer answer("check352", "button2");
        DialogDriver driver("dialog241", std::ref(answer));
        QString error;
        DialogDriver errorBox("errorBox", [&](QWidget* box) {
            error = box->windowTitle() + ": " + static_cast<QMessageBox*>(box)->text();
            static_cast<QDialog*>(box)->accept();
        });
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QCOMPARE(error, QString("Error: Unable to access registry key"));
    }

    void thisSiteBox_addsTheSite_andTellsTheOthers() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        RecordingBroadcast broadcast;
        FormWarning warning(*services_, window_.get());
        warning.setBroadcast(&broadcast);
        Answer answer{"check351", "button1"};
        DialogDriver driver("dialog241", std::ref(answer));
        QVERIFY(warning.allowSubmission(site.url("/order")));
        const Url base(Url(site.server().url("/")).base());
        QVERIFY(services_->preferences().isNoPrompt(base));
        QCOMPARE(broadcast.commands, std::vector<int>{kBroadcastReloadNoPromptSites});
        QCOMPARE(broadcast.toAll, std::vector<bool>{false});
        QVERIFY(test::readFile(env_->homeFile("NoPromptSites.p3p")).find(base.str()) !=
                std::string::npos);
    }

    void slowSite_countsAsNoPolicy_afterTheTimeLimit() {
        LoopbackServer slow;
        slow.server().Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            response.set_content("<META/>", "application/xml");
        });
        slow.start();
        FormWarning warning(*services_, window_.get());
        warning.setTimeLimit(std::chrono::milliseconds(200));
        int painted = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&painted] { ++painted; });
        ticker.start(10);
        MatchResult result;
        const auto start = std::chrono::steady_clock::now();
        QCOMPARE(warning.checkForm(QUrl(QString::fromStdString(slow.url("/order"))), result), -1);
        QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500));
        // The windows' events went on while the check waited.
        QVERIFY(painted > 3);
    }

    // While the policy is looked for, the form's window takes no input (no key pressed now can
    // answer the question that follows) and the other windows take theirs.
    void slowSite_formWindowWaitsAndOtherWindowsTakeInput() {
        LoopbackServer slow;
        slow.server().Get("/w3c/p3p.xml", [](const httplib::Request&, httplib::Response& response) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            response.set_content("<META/>", "application/xml");
        });
        slow.start();
        window_->show();
        QLineEdit other;
        other.show();
        FormWarning warning(*services_, window_.get());
        bool formWindowEnabled = true;
        QString typed;
        QTimer during;
        during.setSingleShot(true);
        connect(&during, &QTimer::timeout, [&] {
            formWindowEnabled = window_->isEnabled();
            other.setFocus();
            QTest::keyClick(other.windowHandle(), 'x');  // as the window system delivers a key
            typed = other.text();
        });
        connect(&warning, &FormWarning::checkStarted, [&] { during.start(100); });
        MatchResult result;
        QCOMPARE(warning.checkForm(QUrl(QString::fromStdString(slow.url("/order"))), result), -1);
        QVERIFY(!formWindowEnabled);
        QCOMPARE(typed, QString("x"));
        QVERIFY(window_->isEnabled());
    }

    void targetWithoutPath_isCheckedAtTheRoot() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        MatchResult result;
        const QString bare = QString::fromStdString(Url(site.server().url("/")).base());
        QCOMPARE(warning.checkForm(QUrl(bare), result), 1);
        QCOMPARE(QString::fromStdString(result.requestUri.str()), bare + "/");
    }

    void notAWebAddress_isNoPolicy() {
        FormWarning warning(*services_, window_.get());
        MatchResult result;
        QCOMPARE(warning.checkForm(QUrl("ftp://127.0.0.1/x"), result), -1);
        QCOMPARE(warning.checkForm(QUrl("javascript:alert(1)"), result), -1);
    }

    void windowClosedUnderTheQuestion_stopsTheForm() {
        Site site(siteFile("conflicting", "p3p.xml"), siteFile("conflicting", "policy.xml"));
        FormWarning warning(*services_, window_.get());
        DialogDriver driver("dialog241", [this](QWidget*) { window_.reset(); });
        QVERIFY(!warning.allowSubmission(site.url("/order")));
        QVERIFY(driver.answered());
    }

  private:
    std::unique_ptr<PreferenceTestEnvironment> env_;
    std::unique_ptr<AgentServices> services_;
    std::unique_ptr<QWidget> window_;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::FormWarningTest)
#include "FormWarningTest.moc"
