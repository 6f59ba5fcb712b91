#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "DialogDriver.h"
#include "LoopbackServer.h"
#include "PreferenceTestEnvironment.h"
#include "core/MatchResult.h"
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
