// End-to-end tests of the browser shell: a real page in a real WebEngine view, offscreen, served
// by a loopback server on two ports, with the recording helper module loaded as the shell loads
// any module: through the registry file.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include <memory>

#include "TwoOriginServer.h"
#include "shell/AddressInput.h"
#include "shell/BrowserPage.h"
#include "shell/BrowserShell.h"
#include "shell/BrowserWindow.h"
#include "shell/DocumentFactsTable.h"
#include "shell/ModuleLoader.h"
#include "shell/ShellArguments.h"
#include "util/RegistryTree.h"

namespace perchlight::test {
namespace {

constexpr int kWaitMs = 15000;
const std::string kClassId = "{00000178-CD4A-447a-BCF9-6FD0096B5527}";

// Writes a registry file that registers the module file under the class id.
void registerModule(const QString& registryPath, const std::string& classId, const QString& file) {
    RegistryTree registry(registryPath.toStdString());
    QVERIFY(
        registry.setValue("HKCR\\CLSID\\" + classId + "\\InprocServer32", "@", file.toStdString()));
    QVERIFY(registry.createKey(std::string(ModuleLoader::kHelperObjectsKey) + "\\" + classId));
    QVERIFY(registry.save());
}

QVariant runScript(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, kWaitMs)) {
        qWarning("script did not return: %s", qPrintable(script));
    }
    return result;
}

ElementReport element(const char* tag, const char* src, const char* codebase, const char* code,
                      const char* rel, const char* href) {
    return {tag, src, codebase, code, rel, href};
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addressInput_data();
    void addressInput();
    void arguments_data();
    void arguments();
    void factsTable_completeOnlyWhenEveryFrameReported();

    void moduleLoader_loadsOnlyRegisteredModules();
    void window_helperCreatedWithWindowAndToldOfClosing();
    void link_refusedNavigationIsNotRequested();
    void postForm_refusedSendsNothingAndKeepsTypedText();
    void postForm_allowedDeliversTheBodyIntact();
    void postForm_inFrameAskedAsFrameNavigation();
    void window_closedWhileAHelperIsAsking_closesAfterTheCall();
    void documentFacts_framesInDocumentOrderWithRawAttributes();
    void documentFacts_blankFrameReportedByItsDocument();
    void popups_allowed_scriptOpensAWindow();
    void popups_blocked_clickedPopupRefusedAndLinkWindowOpens();
    void stoppedLoad_completesNothing();
    void reload_helpersToldThenPageCompletesAgain();
    void screenshot_writesThePageOnceHelpersAreIdle();
    void screenshot_failsWhenThePageCannotLoad();

  private:
    BrowserWindow* loadedWindow(const QUrl& url);
    QStringList events() const { return m_recorder->property("events").toStringList(); }
    int countEvents(const QString& event) const { return static_cast<int>(events().count(event)); }

    QTemporaryDir m_config;
    TwoOriginServer m_server;
    ModuleLoader m_loader;
    QObject* m_recorder = nullptr;
    std::unique_ptr<BrowserShell> m_shell;
};

void ShellTest::initTestCase() {
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    registerModule(QString::fromStdString(RegistryTree::defaultPath()), kClassId,
                   QStringLiteral(PERCHLIGHT_RECORDING_MODULE));
    m_loader.load(RegistryTree(RegistryTree::defaultPath()));
    QCOMPARE(m_loader.modules().size(), std::size_t{1});
    m_recorder = m_loader.modules().front().instance;
    QVERIFY(m_server.listen());

    m_server.setPage("/plain", "<html><head><title>Plain</title></head><body>plain</body></html>");
    m_server.setPage("/link", "<a id='next' href='/next'>next</a>");
    m_server.setPage("/next", "next page");
    m_server.setPage("/reload", "reloadable");
    m_server.setPage("/form",
                     "<form id='form' method='post' action='/submit'>"
                     "<input id='who' name='who'><input id='note' name='note' value='x y&amp;z'>"
                     "<button id='send' type='submit'>Send</button></form>");
    m_server.setPage("/submit", "received");
    m_server.setPage("/framedform", "<iframe src='/form'></iframe>");
    m_server.setPage("/facts",
                     "<html><head><link rel='stylesheet' href='style.css'>"
                     "<link rel='P3Pv1' href='/w3c/p3p.xml'></head><body>"
                     "<img src='img/a.png'><iframe src='/same'></iframe>"
                     "<object codebase='lib' code='x.ocx'></object>"
                     "<iframe src='{B}/cross'></iframe>"
                     "<applet codebase='classes/' code='Main.class'></applet>"
                     "<embed src='e.swf' type='application/x-shockwave-flash'></body></html>");
    m_server.setPage("/blank",
                     "<iframe id='blank'></iframe><script>var d = "
                     "document.getElementById('blank').contentDocument; d.open(); "
                     "d.write(\"<img src='written.png'>\"); d.close();</script>");
    m_server.setPage("/same", "<img src='same.png'>");
    m_server.setPage("/cross", "<img src='cross.png'><iframe src='nested'></iframe>");
    m_server.setPage("/nested", "<link rel='alternate stylesheet' href='alt.css'>");
    m_server.setPage(
        "/popups",
        "<body style='margin:0'><button id='popup' style='position:fixed;left:0;"
        "top:0;width:200px;height:100px' onclick=\"window.open('/next?popup', 'small', "
        "'width=300,height=200')\">pop-up</button><a id='tab' href='/next?link' "
        "target='_blank' style='position:fixed;left:0;top:200px;width:200px;"
        "height:100px;display:block'>new window</a></body>");
    m_server.hold("/slow");
}

void ShellTest::init() {
    m_recorder->setProperty("vetoPattern", QString());
    m_recorder->setProperty("holdPattern", QString());
    m_recorder->setProperty("blockPopups", false);
    QMetaObject::invokeMethod(m_recorder, "clear");
    m_shell = std::make_unique<BrowserShell>(m_loader.helperModules());
}

void ShellTest::cleanup() {
    m_shell.reset();
}

BrowserWindow* ShellTest::loadedWindow(const QUrl& url) {
    BrowserWindow* window = m_shell->newWindow();
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    window->load(url);
    if (!completed.wait(kWaitMs)) {
        qWarning("%s did not complete", qPrintable(url.toString()));
    }
    return window;
}

void ShellTest::addressInput_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("loaded");  // empty: refused
    QTest::newRow("bare host") << "example.org"
                               << "http://example.org";
    QTest::newRow("host and port") << "localhost:8080/a"
                                   << "http://localhost:8080/a";
    QTest::newRow("https") << " https://example.org/x "
                           << "https://example.org/x";
    QTest::newRow("upper-case scheme") << "HTTP://example.org/"
                                       << "http://example.org/";
    QTest::newRow("about") << "about:blank"
                           << "about:blank";
    QTest::newRow("file") << "file:///tmp/a.html"
                          << "file:///tmp/a.html";
    QTest::newRow("absolute path") << "/tmp/a b.html"
                                   << "file:///tmp/a%20b.html";
    QTest::newRow("empty") << "  "
                           << "";
    QTest::newRow("script") << "javascript:alert(1)"
                            << "";
    QTest::newRow("data") << "data:text/html,<b>x</b>"
                          << "";
    QTest::newRow("ftp") << "ftp://example.org/"
                         << "";
    QTest::newRow("http without host") << "http:///path"
                                       << "";
}

void ShellTest::addressInput() {
    QFETCH(QString, typed);
    QFETCH(QString, loaded);
    const std::optional<QUrl> url = AddressInput::toUrl(typed);
    QCOMPARE(url ? url->toString(QUrl::FullyEncoded) : QString(), loaded);
}

void ShellTest::arguments_data() {
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("screenshot");
    QTest::addColumn<QStringList>("forModules");
    QTest::addColumn<bool>("usable");
    QTest::newRow("none") << QStringList{} << ""
                          << "" << QStringList{} << true;
    QTest::newRow("all") << QStringList{"--level=2", "example.org", "--screenshot", "x.png", "y"}
                         << "example.org"
                         << "x.png" << QStringList{"--level=2", "y"} << true;
    QTest::newRow("joined") << QStringList{"--screenshot=x.png", "a"} << "a"
                            << "x.png" << QStringList{} << true;
    QTest::newRow("no file") << QStringList{"a", "--screenshot"} << "a"
                             << "" << QStringList{} << false;
    QTest::newRow("no address") << QStringList{"--screenshot", "x.png"} << ""
                                << "x.png" << QStringList{} << false;
}

void ShellTest::arguments() {
    QFETCH(QStringList, given);
    QFETCH(QString, address);
    QFETCH(QString, screenshot);
    QFETCH(QStringList, forModules);
    QFETCH(bool, usable);
    const ShellArguments parsed = ShellArguments::parse(given);
    QCOMPARE(parsed.error.isEmpty(), usable);
    if (usable) {
        QCOMPARE(parsed.address, address);
        QCOMPARE(parsed.screenshotFile, screenshot);
        QCOMPARE(parsed.moduleArguments, forModules);
    }
}

void ShellTest::factsTable_completeOnlyWhenEveryFrameReported() {
    DocumentFactsTable table;
    table.add({"f0", {0}, 1, {}});
    table.add({"f00", {0, 0}, 0, {}});
    QVERIFY(!table.complete());  // no top document yet
    table.add({"top", {}, 2, {}});
    QVERIFY(!table.complete());  // frame 1 missing
    table.add({"f1", {1}, 0, {}});
    QVERIFY(table.complete());
    table.add({"f0 again", {0}, 0, {}});  // frame 0 navigated to a page without frames
    QVERIFY(table.complete());
    std::vector<std::string> order;
    for (const DocumentFacts& facts : table.documents()) {
        order.push_back(facts.url);
    }
    QCOMPARE(order, (std::vector<std::string>{"top", "f0 again", "f1"}));

    DocumentFactsTable hostile;  // claims more frames than are ever kept
    hostile.add({"top", {}, 1000000, {}});
    for (int index = 0; hostile.documents().size() < DocumentFactsTable::kMaxDocuments; ++index) {
        QVERIFY(!hostile.complete());
        hostile.add({"f", {index}, 0, {}});
    }
    QVERIFY(hostile.complete());
    hostile.add({"more", {5000}, 0, {}});
    QCOMPARE(hostile.documents().size(), DocumentFactsTable::kMaxDocuments);
}

void ShellTest::moduleLoader_loadsOnlyRegisteredModules() {
    QTemporaryDir directory;
    const QString registryPath = directory.filePath(QStringLiteral("registry"));
    {
        ModuleLoader loader;
        loader.load(RegistryTree(registryPath.toStdString()));  // no file: nothing registered
        QVERIFY(loader.modules().empty());
    }
    // A class entry alone is not a helper registration.
    {
        RegistryTree registry(registryPath.toStdString());
        QVERIFY(registry.setValue("HKCR\\CLSID\\" + kClassId + "\\InprocServer32", "@",
                                  PERCHLIGHT_RECORDING_MODULE));
        QVERIFY(registry.save());
        ModuleLoader loader;
        loader.load(RegistryTree(registryPath.toStdString()));
        QVERIFY(loader.modules().empty());
    }
    // Registered: the recording module, and three that cannot load and are skipped.
    const QString notAPlugin = directory.filePath(QStringLiteral("notes.txt"));
    QFile file(notAPlugin);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a module");
    file.close();
    registerModule(registryPath, kClassId, QStringLiteral(PERCHLIGHT_RECORDING_MODULE));
    registerModule(registryPath, "{1}", directory.filePath(QStringLiteral("missing.so")));
    registerModule(registryPath, "{2}", notAPlugin);
    registerModule(registryPath, "{3}", QStringLiteral("librecording.so"));
    ModuleLoader loader;
    loader.load(RegistryTree(registryPath.toStdString()));
    QCOMPARE(loader.modules().size(), std::size_t{1});
    QCOMPARE(loader.modules().front().classId, QString::fromStdString(kClassId));
    QCOMPARE(loader.modules().front().instance, m_recorder);
}

void ShellTest::window_helperCreatedWithWindowAndToldOfClosing() {
    BrowserWindow* first = m_shell->newWindow();
    QCOMPARE(first->helperCount(), std::size_t{1});
    QVERIFY(first->indicatorSlot()->findChild<QLabel*>(QStringLiteral("recordingIndicator")));
    first->findChild<QAction*>(QStringLiteral("newWindowAction"))->trigger();
    QCOMPARE(m_shell->windows().size(), std::size_t{2});
    QPointer<BrowserWindow> second = m_shell->windows().back();
    QCOMPARE(countEvents(QStringLiteral("created")), 2);
    first->openInNewWindow(QUrl(QStringLiteral("javascript:alert(1)")));  // not an address to load
    QCOMPARE(m_shell->windows().size(), std::size_t{2});
    QVERIFY(second->close());
    QCOMPARE(countEvents(QStringLiteral("windowClosing")), 1);
    QTRY_VERIFY(second.isNull());  // closing deletes the window and its helper
    QCOMPARE(m_shell->windows(), std::vector<BrowserWindow*>{first});
}

void ShellTest::link_refusedNavigationIsNotRequested() {
    const QUrl page = m_server.url(0, QStringLiteral("/link"));
    const QUrl next = m_server.url(0, QStringLiteral("/next"));
    BrowserWindow* window = loadedWindow(page);
    QCOMPARE(countEvents("documentComplete top " + page.toString()), 1);
    const int requestsBefore = m_server.requestCount("/next");
    m_recorder->setProperty("vetoPattern", QStringLiteral("/next"));
    runScript(window->page(), QStringLiteral("document.getElementById('next').click()"));
    QTRY_VERIFY_WITH_TIMEOUT(
        events().contains("beforeNavigate Link top get " + next.toString() + " refused"), kWaitMs);
    QCOMPARE(runScript(window->page(), QStringLiteral("document.URL")).toString(), page.toString());
    QCOMPARE(m_server.requestCount("/next"), requestsBefore);
    QCOMPARE(window->currentUrl(), page);

    m_recorder->setProperty("vetoPattern", QString());
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    runScript(window->page(), QStringLiteral("document.getElementById('next').click()"));
    QVERIFY(completed.wait(kWaitMs));
    QCOMPARE(completed.front().front().toUrl(), next);
    QCOMPARE(m_server.requestCount("/next"), requestsBefore + 1);
}

void ShellTest::postForm_refusedSendsNothingAndKeepsTypedText() {
    const QUrl page = m_server.url(0, QStringLiteral("/form"));
    BrowserWindow* window = loadedWindow(page);
    runScript(window->page(), QStringLiteral("document.getElementById('who').focus()"));
    QTest::keyClicks(window->view()->focusProxy(), QStringLiteral("alice"));
    QTRY_COMPARE_WITH_TIMEOUT(
        runScript(window->page(), QStringLiteral("document.getElementById('who').value"))
            .toString(),
        QStringLiteral("alice"), kWaitMs);

    m_recorder->setProperty("vetoPattern", QStringLiteral("/submit"));
    const int submissions = m_server.requestCount("/submit");
    QSignalSpy finished(window->page(), &QWebEnginePage::loadFinished);
    runScript(window->page(), QStringLiteral("document.getElementById('send').click()"));
    const QString refused = "beforeNavigate Form top post " +
                            m_server.url(0, QStringLiteral("/submit")).toString() + " refused";
    QTRY_VERIFY_WITH_TIMEOUT(events().contains(refused), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), kWaitMs);  // the stopped load ends
    QCOMPARE(finished.front().front().toBool(), false);
    QCOMPARE(runScript(window->page(), QStringLiteral("document.getElementById('who').value"))
                 .toString(),
             QStringLiteral("alice"));
    QCOMPARE(runScript(window->page(), QStringLiteral("document.URL")).toString(), page.toString());
    QCOMPARE(m_server.requestCount("/submit"), submissions);
    const std::vector<DocumentFacts> facts = window->documentFacts();  // still the form page's
    QCOMPARE(facts.size(), std::size_t{1});
    QCOMPARE(facts.front().url, page.toString().toStdString());
    QCOMPARE(countEvents("documentComplete top " + page.toString()), 1);
}

void ShellTest::postForm_allowedDeliversTheBodyIntact() {
    const QUrl page = m_server.url(0, QStringLiteral("/form"));
    const QUrl target = m_server.url(0, QStringLiteral("/submit"));
    BrowserWindow* window = loadedWindow(page);
    const int submissions = m_server.requestCount("/submit");
    runScript(window->page(), QStringLiteral("document.getElementById('who').value = 'alice'"));
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    runScript(window->page(), QStringLiteral("document.getElementById('send').click()"));
    QVERIFY(completed.wait(kWaitMs));
    QCOMPARE(completed.front().front().toUrl(), target);
    QVERIFY(events().contains("beforeNavigate Form top post " + target.toString()));
    QCOMPARE(m_server.requestCount("/submit"), submissions + 1);
    const auto& request = m_server.requests().back();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.body, QByteArray("who=alice&note=x+y%26z"));
}

void ShellTest::postForm_inFrameAskedAsFrameNavigation() {
    const QUrl page = m_server.url(0, QStringLiteral("/framedform"));
    const QUrl target = m_server.url(0, QStringLiteral("/submit"));
    BrowserWindow* window = loadedWindow(page);
    const int submissions = m_server.requestCount("/submit");
    m_recorder->setProperty("vetoPattern", QStringLiteral("/submit"));
    runScript(window->page(), QStringLiteral("frames[0].document.getElementById('send').click()"));
    QTRY_VERIFY_WITH_TIMEOUT(
        events().contains("beforeNavigate Form frame post " + target.toString() + " refused"),
        kWaitMs);
    QCOMPARE(runScript(window->page(), QStringLiteral("frames[0].document.URL")).toString(),
             m_server.url(0, QStringLiteral("/form")).toString());
    QCOMPARE(m_server.requestCount("/submit"), submissions);

    m_recorder->setProperty("vetoPattern", QString());
    QSignalSpy requested(&m_server, &TwoOriginServer::requestReceived);
    runScript(window->page(), QStringLiteral("frames[0].document.getElementById('send').click()"));
    QTRY_VERIFY_WITH_TIMEOUT(requested.contains(QVariantList{QByteArray("/submit")}), kWaitMs);
    QCOMPARE(m_server.requests().back().method, QByteArray("POST"));
}

// A close that comes while a helper asks its question waits for the question: the window goes
// once the call has returned, and its helper is told of the closing only then, once.
void ShellTest::window_closedWhileAHelperIsAsking_closesAfterTheCall() {
    const QUrl page = m_server.url(0, QStringLiteral("/link"));
    const QUrl next = m_server.url(0, QStringLiteral("/next"));
    QPointer<BrowserWindow> window = loadedWindow(page);
    m_recorder->setProperty("holdPattern", QStringLiteral("/next"));
    // The helper's question runs a nested event loop inside the page's callback, under this test
    // function's own waiting: a timer armed first acts while it is open.
    bool closed = true;
    bool toldOfClosing = true;
    bool asked = false;
    QTimer whileAsking;
    whileAsking.setInterval(20);
    connect(&whileAsking, &QTimer::timeout, this, [&] {
        if (!events().contains("holding " + next.toString())) {
            return;
        }
        whileAsking.stop();
        asked = true;
        closed = window->close();
        toldOfClosing = events().contains(QStringLiteral("windowClosing"));
        m_recorder->setProperty("holdPattern", QString());
        QMetaObject::invokeMethod(m_recorder, "release", Qt::QueuedConnection);
    });
    whileAsking.start();
    runScript(window->page(), QStringLiteral("document.getElementById('next').click()"));
    QTRY_VERIFY_WITH_TIMEOUT(asked, kWaitMs);
    QVERIFY(!closed);
    QVERIFY(!toldOfClosing);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), kWaitMs);
    QCOMPARE(countEvents(QStringLiteral("windowClosing")), 1);
}

void ShellTest::documentFacts_framesInDocumentOrderWithRawAttributes() {
    const QUrl page = m_server.url(0, QStringLiteral("/facts"));
    const QString b = m_server.url(1, {}).toString();
    BrowserWindow* window = loadedWindow(page);
    const std::vector<DocumentFacts> documents = window->documentFacts();
    QCOMPARE(documents.size(), std::size_t{4});

    QCOMPARE(documents[0].url, page.toString().toStdString());
    QCOMPARE(documents[0].framePath, std::vector<int>{});
    QCOMPARE(documents[0].childFrames, 2);
    const std::vector<ElementReport> top = {
        element("LINK", "", "", "", "stylesheet", "style.css"),
        element("LINK", "", "", "", "P3Pv1", "/w3c/p3p.xml"),
        element("IMG", "img/a.png", "", "", "", ""),
        element("IFRAME", "/same", "", "", "", ""),
        element("OBJECT", "", "lib", "x.ocx", "", ""),
        element("IFRAME", (b + "/cross").toStdString().c_str(), "", "", "", ""),
        element("APPLET", "", "classes/", "Main.class", "", ""),
        element("EMBED", "e.swf", "", "", "", "")};
    QVERIFY(documents[0].elements == top);

    QCOMPARE(documents[1].url, m_server.url(0, QStringLiteral("/same")).toString().toStdString());
    QCOMPARE(documents[1].framePath, std::vector<int>{0});
    QVERIFY(documents[1].elements ==
            std::vector<ElementReport>{element("IMG", "same.png", "", "", "", "")});

    QCOMPARE(documents[2].url, (b + "/cross").toStdString());
    QCOMPARE(documents[2].framePath, std::vector<int>{1});
    QCOMPARE(documents[2].childFrames, 1);
    QVERIFY(documents[2].elements ==
            (std::vector<ElementReport>{element("IMG", "cross.png", "", "", "", ""),
                                        element("IFRAME", "nested", "", "", "", "")}));

    QCOMPARE(documents[3].url, (b + "/nested").toStdString());
    QCOMPARE(documents[3].framePath, (std::vector<int>{1, 0}));
    QVERIFY(documents[3].elements == std::vector<ElementReport>{element(
                                         "LINK", "", "", "", "alternate stylesheet", "alt.css")});

    // Every frame completed before the page did.
    const QStringList seen = events();
    const qsizetype topAt = seen.indexOf("documentComplete top " + page.toString());
    QVERIFY(topAt >= 0);
    for (const char* frame : {"/same", "/cross"}) {
        const qsizetype at = seen.indexOf("documentComplete frame " +
                                          m_server.url(frame[1] == 's' ? 0 : 1, frame).toString());
        QVERIFY2(at >= 0 && at < topAt, frame);
        QVERIFY2(seen.count(seen[at]) == 1, frame);  // reported by itself only, not its parent
    }
    QVERIFY(seen.indexOf("documentComplete frame " + b + "/nested") < topAt);
}

void ShellTest::documentFacts_blankFrameReportedByItsDocument() {
    const QUrl page = m_server.url(0, QStringLiteral("/blank"));
    BrowserWindow* window = m_shell->newWindow();
    QSignalSpy loaded(window->page(), &QWebEnginePage::loadFinished);
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    QElapsedTimer sinceLoad;
    connect(window->page(), &QWebEnginePage::loadFinished, this, [&] { sinceLoad.start(); });
    window->load(page);
    QVERIFY(completed.wait(kWaitMs));
    // No script runs in an about:blank frame: without its document's report the completion
    // would wait for it until the time-out.
    QVERIFY(sinceLoad.isValid() && sinceLoad.elapsed() < BrowserPage::kFrameReportWaitMs);
    const std::vector<DocumentFacts> documents = window->documentFacts();
    QCOMPARE(documents.size(), std::size_t{2});
    // Writing the frame's document gave it the writer's address.
    QCOMPARE(documents[1].url, page.toString().toStdString());
    QCOMPARE(documents[1].framePath, std::vector<int>{0});
    QVERIFY(documents[1].elements ==
            std::vector<ElementReport>{element("IMG", "written.png", "", "", "", "")});
}

// Pop-ups allowed: a page's script opens its window without any click.
void ShellTest::popups_allowed_scriptOpensAWindow() {
    BrowserWindow* window = loadedWindow(m_server.url(0, QStringLiteral("/popups")));
    runScript(window->page(), QStringLiteral("window.open('/next?script', 'small', 'width=300')"));
    QTRY_COMPARE_WITH_TIMEOUT(m_shell->windows().size(), std::size_t{2}, kWaitMs);
}

// Pop-ups blocked: a click on the button that opens a pop-up opens nothing, and neither does the
// script's own call; a click on a link to a new window still opens it.
void ShellTest::popups_blocked_clickedPopupRefusedAndLinkWindowOpens() {
    m_recorder->setProperty("blockPopups", true);
    BrowserWindow* window = loadedWindow(m_server.url(0, QStringLiteral("/popups")));
    runScript(window->page(), QStringLiteral("window.open('/next?script', 'small', 'width=300')"));
    QWidget* input = window->view()->focusProxy();
    QVERIFY(input != nullptr);
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 250));
    // Asked for in this order, the first new window would be the pop-up's.
    QTRY_VERIFY_WITH_TIMEOUT(m_shell->windows().size() >= 2, kWaitMs);
    BrowserWindow* opened = m_shell->windows()[1];
    QTRY_VERIFY_WITH_TIMEOUT(!opened->page()->requestedUrl().isEmpty(), kWaitMs);
    QCOMPARE(opened->page()->requestedUrl(), m_server.url(0, QStringLiteral("/next?link")));
}

void ShellTest::stoppedLoad_completesNothing() {
    const QUrl slow = m_server.url(0, QStringLiteral("/slow"));
    BrowserWindow* window = m_shell->newWindow();
    QSignalSpy requested(&m_server, &TwoOriginServer::requestReceived);
    QSignalSpy finished(window->page(), &QWebEnginePage::loadFinished);
    window->load(slow);
    QTRY_VERIFY_WITH_TIMEOUT(requested.contains(QVariantList{QByteArray("/slow")}), kWaitMs);
    window->page()->triggerAction(QWebEnginePage::Stop);
    QVERIFY(finished.wait(kWaitMs));
    QCOMPARE(finished.front().front().toBool(), false);
    // A completion would come at the latest when the wait for frame reports ends.
    QTest::qWait(BrowserPage::kFrameReportWaitMs + 300);
    QVERIFY(events().filter(QStringLiteral("documentComplete")).isEmpty());

    const QUrl plain = m_server.url(0, QStringLiteral("/plain"));
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    window->load(plain);
    QVERIFY(completed.wait(kWaitMs));
    QTest::qWait(200);  // a second completion would come right behind the first
    QCOMPARE(completed.size(), 1);
    QStringList completions = events().filter(QStringLiteral("documentComplete"));
    QCOMPARE(completions, QStringList{"documentComplete top " + plain.toString()});
}

void ShellTest::reload_helpersToldThenPageCompletesAgain() {
    const QUrl page = m_server.url(0, QStringLiteral("/reload"));
    BrowserWindow* window = loadedWindow(page);
    const int requests = m_server.requestCount("/reload");
    QVERIFY(!window->view()->pageAction(QWebEnginePage::Stop)->isEnabled());
    QMetaObject::invokeMethod(m_recorder, "clear");
    QSignalSpy completed(window, &BrowserWindow::topDocumentCompleted);
    window->view()->pageAction(QWebEnginePage::Reload)->trigger();
    QVERIFY(completed.wait(kWaitMs));
    QCOMPARE(events(),
             (QStringList{"beforeNavigate Reload top get " + page.toString(),
                          QStringLiteral("reloaded"), "documentComplete top " + page.toString()}));
    QCOMPARE(m_server.requestCount("/reload"), requests + 1);
}

void ShellTest::screenshot_writesThePageOnceHelpersAreIdle() {
    QTemporaryDir directory;
    const QString picture = directory.filePath(QStringLiteral("page.png"));
    const QString record = directory.filePath(QStringLiteral("events.txt"));
    QProcess browser;
    browser.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QUrl page = m_server.url(0, QStringLiteral("/plain"));
    browser.start(QStringLiteral(PERCHLIGHT_BROWSER),
                  {page.toString(), QStringLiteral("--screenshot"), picture,
                   QStringLiteral("--busy-ms=300"), "--record=" + record});
    QSignalSpy ended(&browser, &QProcess::finished);
    QVERIFY(ended.wait(60000));
    QCOMPARE(browser.exitStatus(), QProcess::NormalExit);
    QCOMPARE(browser.exitCode(), 0);
    const QImage image(picture);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > 300 && image.height() > 200);

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), "initialize --busy-ms=300 --record=" + record);
    QVERIFY(lines.contains("documentComplete top " + page.toString()));
    QVERIFY(lines.contains(QStringLiteral("busy over")));
}

void ShellTest::screenshot_failsWhenThePageCannotLoad() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QTemporaryDir directory;
    const QString picture = directory.filePath(QStringLiteral("page.png"));
    QProcess browser;
    browser.start(QStringLiteral(PERCHLIGHT_BROWSER),
                  {QStringLiteral("http://127.0.0.1:%1/").arg(port), QStringLiteral("--screenshot"),
                   picture});
    QSignalSpy ended(&browser, &QProcess::finished);
    QVERIFY(ended.wait(60000));
    QCOMPARE(browser.exitCode(), 1);
    QVERIFY(browser.readAllStandardError().contains("failed"));
    QVERIFY(!QFile::exists(picture));
}

}  // namespace perchlight::test

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    perchlight::test::ShellTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ShellTest.moc"
