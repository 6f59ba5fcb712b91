#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "DialogDriver.h"
#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "core/MatchResult.h"
#include "ui/DialogSupport.h"
#include "ui/WebHost.h"

namespace perchlight {
namespace {

using test::DialogDriver;

// Runs a script in the page's isolated world and waits for its value.
QVariant evaluate(QWebEnginePage* page, const QString& script) {
    QVariant value;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& result) {
        value = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000)) {
        return QStringLiteral("(no answer)");
    }
    return value;
}

bool waitForLoad(WebHost& host) {
    QSignalSpy loaded(host.view(), &QWebEngineView::loadFinished);
    return loaded.wait(15000) && loaded.first().first().toBool();
}

MatchResult conflictingResult() {
    MatchResult result;
    result.requestUri = Url("http://shop.example/order");
    result.policyUrl = Url("http://shop.example/w3c/policy.xml#retail");
    result.state = kStateConflict;
    result.descriptions = {"Shares your purchases with others"};
    return result;
}

QStringList summaryFiles(const QString& directory) {
    return QDir(directory).entryList({QStringLiteral("summary*")}, QDir::Files);
}

}  // namespace

class WebHostTest : public QObject {
    Q_OBJECT

  private slots:
    // One module directory for the whole program: the summary page finds its pictures under the
    // directory it saw first.
    void initTestCase() {
        env_ = std::make_unique<test::PreferenceTestEnvironment>();
        for (const char* name :
             {"template-page.html", "template-statement.html", "Maximize.gif", "Minimize.gif"}) {
            std::filesystem::copy_file(test::dataDir() / name, env_->homeFile(name));
        }
    }
    void cleanupTestCase() { env_.reset(); }

    void init() {
        tmp_ = std::make_unique<test::TempDir>();
        ::setenv("TMPDIR", tmp_->path().c_str(), 1);
    }
    void cleanup() {
        ::unsetenv("TMPDIR");
        tmp_.reset();
    }

    void summary_openedAndClosedTwice_leavesNoFile() {
        const QString directory = QString::fromStdString(tmp_->path().string());
        for (int round = 0; round < 2; ++round) {
            WebHost host(WebHost::kSummaryDialog, {});
            QCOMPARE(host.objectName(), QString("dialog219"));
            QCOMPARE(host.windowTitle(), QString("Policy Summary"));
            QVERIFY(host.showSummary(conflictingResult()));
            QCOMPARE(summaryFiles(directory).size(), 1);
            DialogDriver driver("dialog219", [](QWidget* dialog) {
                auto* host = static_cast<WebHost*>(dialog);
                QSignalSpy loaded(host->view(), &QWebEngineView::loadFinished);
                loaded.wait(15000);
                host->accept();
            });
            host.exec();
            QVERIFY(driver.answered());
            QVERIFY(summaryFiles(directory).isEmpty());
        }
    }

    // The page takes the keys, yet Escape cancels the dialog and F1 only beeps.
    void keys_escapeCancels_f1Beeps() {
        int beeps = 0;
        const std::function<void()> beep = DialogSupport::beeper();
        DialogSupport::beeper() = [&beeps] { ++beeps; };
        WebHost host(WebHost::kSummaryDialog, {});
        QVERIFY(host.showSummary(conflictingResult()));
        bool openAfterF1 = false;
        DialogDriver driver("dialog219", [&](QWidget* dialog) {
            auto* shown = static_cast<WebHost*>(dialog);
            QSignalSpy loaded(shown->view(), &QWebEngineView::loadFinished);
            loaded.wait(15000);
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QWidget* focus = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
            QTest::keyClick(focus, Qt::Key_F1);
            openAfterF1 = dialog->isVisible();
            QTest::keyClick(focus, Qt::Key_Escape);
        });
        const int result = host.exec();
        DialogSupport::beeper() = beep;
        QVERIFY(driver.answered());
        QVERIFY(openAfterF1);
        QCOMPARE(beeps, 1);
        QCOMPARE(result, int(QDialog::Rejected));
    }

    // Drawn as text, the summary needs no browser view; its web links go to the opener.
    void textRenderer_showsTheSummary_andWebLinksGoToTheOpener() {
        QList<QUrl> opened;
        WebHost host(
            WebHost::kSummaryDialog, [&](const QUrl& url) { opened << url; }, nullptr,
            WebHost::Renderer::Text);
        QVERIFY(host.view() == nullptr);
        MatchResult result = conflictingResult();
        result.disclosureUri = "http://shop.example/privacy.html";
        QVERIFY(host.showSummary(result));
        auto* text = host.findChild<QTextBrowser*>("webHostText");
        QVERIFY(text != nullptr);
        const QString shown = text->toPlainText();
        QVERIFY2(shown.contains("does not match your preferences"), qPrintable(shown));
        QVERIFY(shown.contains("Shares your purchases with others"));
        QVERIFY(!shown.contains("expandIt"));
        emit text->anchorClicked(QUrl("javascript:alert(1)"));
        emit text->anchorClicked(QUrl("http://shop.example/privacy.html"));
        QCOMPARE(opened, QList<QUrl>{QUrl("http://shop.example/privacy.html")});
        host.show();
        test::screenshot(host, "dialog219-summary-text");
    }

    void summary_showsTheVerdictInRed_forAConflict() {
        WebHost host(WebHost::kSummaryDialog, {});
        QVERIFY(host.showSummary(conflictingResult()));
        host.show();
        QVERIFY(waitForLoad(host));
        const QString text = evaluate(host.view()->page(), "document.body.innerText").toString();
        QVERIFY2(text.contains("does not match your preferences"), qPrintable(text));
        QVERIFY(text.contains("Shares your purchases with others"));
        test::screenshot(host, "dialog219-summary");
    }

    // A policy that was never evaluated has no reasons against it, and still is no match.
    void summary_ofAnUnevaluatedPolicy_neverSaysItMatches() {
        MatchResult result = conflictingResult();
        result.state = kStateNotEvaluated;
        result.descriptions.clear();
        WebHost host(WebHost::kSummaryDialog, {});
        QVERIFY(host.showSummary(result));
        const std::string page = test::readFile(host.summaryPath().toStdString());
        QVERIFY(page.find("matches your preferences.") == std::string::npos);
        QVERIFY(page.find("does not match your preferences") != std::string::npos);
        QVERIFY(page.find("could not be compared") != std::string::npos);
    }

    void testPage_greenButton_paintsThePageGreen() {
        WebHost host(WebHost::kSummaryDialog, {});
        host.showTestPage();
        host.show();
        QVERIFY(waitForLoad(host));
        QWebEnginePage* page = host.view()->page();
        evaluate(page, "document.getElementById('green').click(); true");
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(page, "getComputedStyle(document.body).backgroundColor").toString(),
            QString("rgb(0, 128, 0)"), 10000);
        test::screenshot(host, "dialog219-testpage");
    }

    void onClick_withAnotherElement_changesNothing() {
        WebHost host(WebHost::kSummaryDialog, {});
        host.showTestPage();
        host.show();
        QVERIFY(waitForLoad(host));
        QWebEnginePage* page = host.view()->page();
        // The page's own world calls window.external, as a page script would.
        QVariant answer;
        bool done = false;
        page->runJavaScript(
            "window.external.OnClick(document.createElement('div'), 'red');"
            "window.external.OnClick(document.body, 'blue')",
            QWebEngineScript::MainWorld, [&](const QVariant& value) {
                answer = value;
                done = true;
            });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
        QCOMPARE(answer.toBool(), true);
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(page, "getComputedStyle(document.body).backgroundColor").toString(),
            QString("rgb(0, 0, 255)"), 10000);
    }

    void summaryLinks_openOnlyWebAddresses_throughTheOpener() {
        QList<QUrl> opened;
        WebHost host(WebHost::kSummaryDialog, [&](const QUrl& url) { opened << url; });
        host.showTestPage();
        host.show();
        QVERIFY(waitForLoad(host));
        QWebEnginePage* page = host.view()->page();
        const QUrl home = page->url();
        page->runJavaScript("location.href = 'file:///etc/passwd'", QWebEngineScript::MainWorld);
        page->runJavaScript("location.href = 'data:text/html,<b>x</b>'",
                            QWebEngineScript::MainWorld);
        page->runJavaScript("location.href = 'http://127.0.0.1:9/more.html'",
                            QWebEngineScript::MainWorld);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
        QCOMPARE(opened.first(), QUrl("http://127.0.0.1:9/more.html"));
        QTest::qWait(200);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(page->url(), home);
    }

    // A link that asks for a window of its own, clicked by the user.
    void summaryLinkToANewWindow_goesToTheOpener() {
        QList<QUrl> opened;
        WebHost host(WebHost::kSummaryDialog, [&](const QUrl& url) { opened << url; });
        host.showTestPage();
        host.show();
        QVERIFY(waitForLoad(host));
        QWebEnginePage* page = host.view()->page();
        const QUrl home = page->url();
        page->runJavaScript(
            "var a = document.createElement('a'); a.id = 'away';"
            "a.href = 'http://127.0.0.1:9/away.html'; a.target = '_blank';"
            "a.textContent = 'away'; document.body.appendChild(a); true",
            QWebEngineScript::MainWorld);
        QTRY_VERIFY_WITH_TIMEOUT(
            evaluate(page, "document.getElementById('away') !== null").toBool(), 10000);
        const QVariantList box = evaluate(page,
                                          "var r = document.getElementById('away')"
                                          ".getBoundingClientRect(); [r.left + 3, r.top + 3]")
                                     .toList();
        QCOMPARE(box.size(), 2);
        QTest::mouseClick(host.view()->focusProxy(), Qt::LeftButton, {},
                          QPoint(box[0].toInt(), box[1].toInt()));
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
        QCOMPARE(opened.first(), QUrl("http://127.0.0.1:9/away.html"));
        QCOMPARE(page->url(), home);
    }

    void policyView_showsASitePage_withoutScriptOrExternal() {
        test::LoopbackServer site;
        site.server().Get("/policy.html", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(
                "<html><body><p id='p'>Our policy</p><script>document.getElementById('p')"
                ".textContent = 'script ran ' + typeof "
                "window.external.OnClick;</script></body></html>",
                "text/html");
        });
        site.start();
        WebHost host(WebHost::kPolicyDialog, {});
        QCOMPARE(host.objectName(), QString("dialog220"));
        QVERIFY(!host.showAddress("Policy of a site", QUrl("javascript:alert(1)")));
        QVERIFY(!host.showAddress("Policy of a site", QUrl("file:///etc/passwd")));
        QVERIFY(host.showAddress("Policy of a site",
                                 QUrl(QString::fromStdString(site.url("/policy.html")))));
        QCOMPARE(host.windowTitle(), QString("Policy of a site"));
        host.show();
        QVERIFY(waitForLoad(host));
        QString text;
        host.view()->page()->toPlainText([&](const QString& plain) { text = plain; });
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 10000);
        QCOMPARE(text.trimmed(), QString("Our policy"));
    }

  private:
    std::unique_ptr<test::PreferenceTestEnvironment> env_;
    std::unique_ptr<test::TempDir> tmp_;
};

}  // namespace perchlight

QTEST_MAIN(perchlight::WebHostTest)
#include "WebHostTest.moc"
