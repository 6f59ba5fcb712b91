// The agent in the real browser shell, offscreen: the module is registered and loaded as the
// shell loads it, pages come from a loopback server on two ports (two origins), and the bird of
// each window is read for its picture.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

#include "../shell/TwoOriginServer.h"
#include "browser/Registration.h"
#include "shell/BrowserShell.h"
#include "shell/BrowserWindow.h"
#include "shell/ModuleLoader.h"
#include "ui/BirdFrames.h"
#include "util/RegistryTree.h"

namespace perchlight::test {
namespace {

constexpr int kWaitMs = 20000;

QByteArray dataFile(const char* name) {
    QFile file(QStringLiteral(PERCHLIGHT_DATA_DIR "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray references(const QByteArray& policy) {
    return "<META><POLICY-REFERENCES><POLICY-REF about='" + policy +
           "'><INCLUDE>/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>";
}

// The bird lives in the module, which has its own copy of the bird's class: tests read it through
// its properties.
int frameOf(QObject* bird) {
    return bird->property("frame").toInt();
}
QString tipOf(QObject* bird) {
    return bird->property("tipText").toString();
}
bool busy(QObject* bird) {
    return bird->property("busy").toBool();
}

}  // namespace

class AgentTest : public QObject {
    Q_OBJECT

  public:
    // cookieCommands: the agent runs as with "--cookie-commands", its menu being 214.
    explicit AgentTest(bool cookieCommands) : m_cookieCommands(cookieCommands) {}

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void verdicts_data();
    void verdicts();
    void crossOriginFrameWithoutPolicy_partlyMatched();
    void filePage_showsTheEmptyBar();
    void heldPolicy_windowKeepsAnsweringAndNavigationEndsTheCheck();
    void registration_shellLoadsExactlyTheRegisteredModule();
    void menu_clickOpensItAndPolicySummaryShowsTheSummary();
    void postForm_toAConflictingSiteAsksAndNoSendsNothing();
    void closingPage_summaryOpen_windowClosesAfterTheDialog();
    void movedBird_droppedNearTheScreensFarCorner_staysThere();
    void otherSettings_modalToItsWindow_helpOpensAUsableWindowInFront();
    void postForm_birdFlapsWhileCheckingThenShowsThePageAgain();
    void postForm_moreInfoShowsTheSummaryOfTheFormsPolicy();
    void newWindows_stayWithinTheWorkArea();
    void blockPopups_setInOtherSettings_refusesAClickedPopup();
    void cookieMenu_reachesEveryCookieDialog_data();
    void cookieMenu_reachesEveryCookieDialog();
    void disable_greysTheBirdOfEveryWindowAndEnableChecksAgain();

  private:
    QString checkingMenu() const {
        return m_cookieCommands ? QStringLiteral("menu214") : QStringLiteral("menu245");
    }
    BrowserWindow* load(const QUrl& url);
    QObject* birdOf(BrowserWindow* window) const;
    bool waitForFrame(QObject* bird, int frame) const;

    const bool m_cookieCommands;
    QTemporaryDir m_home;
    QTemporaryDir m_config;
    QTemporaryDir m_runtime;
    TwoOriginServer m_server;
    ModuleLoader m_loader;
    std::unique_ptr<BrowserShell> m_shell;
};

void AgentTest::initTestCase() {
    QVERIFY(m_home.isValid() && m_config.isValid());
    for (const char* name : {"BaseDataschema-std.xml", "appel-medium.xml", "template-page.html",
                             "template-statement.html"}) {
        QVERIFY(QFile::copy(QStringLiteral(PERCHLIGHT_DATA_DIR "/") + QLatin1String(name),
                            m_home.filePath(QLatin1String(name))));
    }
    qputenv("PERCHLIGHT_HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    // The broadcast stays among this process's windows: the other runs of these tests go on at
    // the same time.
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    RegistryTree registry(RegistryTree::defaultPath());
    QVERIFY(Registration::registerServer(registry, PERCHLIGHT_AGENT_MODULE));
    m_loader.load(RegistryTree(RegistryTree::defaultPath()));
    QCOMPARE(m_loader.modules().size(), std::size_t{1});
    if (m_cookieCommands) {
        m_loader.helperModules().front()->initialize({QStringLiteral("--cookie-commands")});
    }
    QVERIFY(m_server.listen());

    const QByteArray shop = dataFile("examples/shop-basic.xml");
    const QByteArray marketing = dataFile("examples/marketing.xml");
    m_server.setPage("/good/w3c/p3p.xml", references("/good/policy.xml#basic"));
    m_server.setPage("/good/policy.xml", shop);
    m_server.setPage("/w3c/p3p.xml",
                     "<META><POLICY-REFERENCES>"
                     "<POLICY-REF about='/good/policy.xml#basic'><INCLUDE>/good/*</INCLUDE>"
                     "<INCLUDE>/framing*</INCLUDE><INCLUDE>/slow*</INCLUDE></POLICY-REF>"
                     "<POLICY-REF about='/bad/policy.xml#retail'><INCLUDE>/bad/*</INCLUDE>"
                     "</POLICY-REF><POLICY-REF about='/held/policy.xml#basic'>"
                     "<INCLUDE>/held/*</INCLUDE></POLICY-REF></POLICY-REFERENCES></META>");
    m_server.setPage("/bad/policy.xml", marketing);
    m_server.setPage("/good/index.html", "<p>matching</p>");
    m_server.setPage("/bad/index.html", "<p>conflicting</p>");
    m_server.setPage("/none/index.html", "<p>no policy</p>");
    m_server.setPage("/framing.html", "<iframe src='{B}/ad.html'></iframe>");
    m_server.setPage("/ad.html", "<p>an advertisement</p>");
    m_server.setPage("/held/index.html", "<p>slow policy</p>");
    m_server.setPage("/good/form.html",
                     "<form id='form' method='post' action='/bad/submit'>"
                     "<input id='who' name='who' value='alice'></form>");
    m_server.setPage("/bad/submit", "<p>thank you</p>");
    m_server.setPage("/good/closing.html", "<p>this page closes its window</p>");
    m_server.setPage(
        "/good/popups.html",
        "<body style='margin:0'><button style='position:fixed;left:0;top:0;"
        "width:200px;height:100px' onclick=\"window.open('/good/index.html?popup', "
        "'small', 'width=300,height=200')\">pop-up</button><a href='/good/index.html?link' "
        "target='_blank' style='position:fixed;left:0;top:200px;width:200px;"
        "height:100px;display:block'>new window</a></body>");
    m_server.hold("/held/policy.xml");
}

void AgentTest::init() {
    m_shell = std::make_unique<BrowserShell>(m_loader.helperModules());
}

void AgentTest::cleanup() {
    m_shell.reset();
}

BrowserWindow* AgentTest::load(const QUrl& url) {
    BrowserWindow* window = m_shell->newWindow();
    window->load(url);
    return window;
}

QObject* AgentTest::birdOf(BrowserWindow* window) const {
    for (QObject* child : window->findChildren<QWidget*>()) {
        if (qstrcmp(child->metaObject()->className(), "perchlight::BirdWindow") == 0) {
            return child;
        }
    }
    qWarning("the window has no bird");
    return nullptr;
}

bool AgentTest::waitForFrame(QObject* bird, int frame) const {
    return bird != nullptr && QTest::qWaitFor([&] { return frameOf(bird) == frame; }, kWaitMs);
}

void AgentTest::verdicts_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("frame");
    QTest::addColumn<QString>("tip");
    QTest::newRow("matching") << "/good/index.html" << int(BirdFrames::kMatched)
                              << "matches your preferences";
    QTest::newRow("conflicting") << "/bad/index.html" << int(BirdFrames::kUnmatched)
                                 << "does not match your preferences";
    QTest::newRow("no policy") << "/none/index.html" << int(BirdFrames::kUnknown)
                               << "Valid policy not found";
}

void AgentTest::verdicts() {
    QFETCH(QString, path);
    QFETCH(int, frame);
    QFETCH(QString, tip);
    QObject* bird = birdOf(load(m_server.url(0, path)));
    QVERIFY(waitForFrame(bird, frame));
    QVERIFY2(tipOf(bird).contains(tip, Qt::CaseInsensitive), qPrintable(tipOf(bird)));
}

void AgentTest::crossOriginFrameWithoutPolicy_partlyMatched() {
    QObject* bird = birdOf(load(m_server.url(0, QStringLiteral("/framing.html"))));
    QVERIFY(waitForFrame(bird, BirdFrames::kPartlyMatched));
}

void AgentTest::filePage_showsTheEmptyBar() {
    QFile page(m_home.filePath(QStringLiteral("local.html")));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<p>a local page</p>");
    page.close();
    QObject* bird = birdOf(load(QUrl::fromLocalFile(page.fileName())));
    QVERIFY(waitForFrame(bird, BirdFrames::kEmptyBar));
}

// A policy server that never answers: the window keeps answering while the bird flaps, and a
// new navigation ends the check at once.
void AgentTest::heldPolicy_windowKeepsAnsweringAndNavigationEndsTheCheck() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/held/index.html")));
    QObject* bird = birdOf(window);
    QVERIFY(bird != nullptr);
    QVERIFY(QTest::qWaitFor([&] { return busy(bird); }, kWaitMs));
    QVERIFY(
        QTest::qWaitFor([&] { return m_server.requestCount("/held/policy.xml") > 0; }, kWaitMs));

    // A timer of the GUI thread keeps its time while the check waits for the download.
    QElapsedTimer clock;
    qint64 latest = 0;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - latest);
        latest = now;
    });
    clock.start();
    tick.start();
    QTest::qWait(1500);
    tick.stop();
    QVERIFY2(longestGap < 20 + 100, qPrintable(QString::number(longestGap)));
    QVERIFY(busy(bird));

    QElapsedTimer ending;
    ending.start();
    window->load(m_server.url(0, QStringLiteral("/good/index.html")));
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    QVERIFY2(ending.elapsed() < 5000, qPrintable(QString::number(ending.elapsed())));
}

void AgentTest::registration_shellLoadsExactlyTheRegisteredModule() {
    QTemporaryDir config;
    const std::string path = (config.path() + QStringLiteral("/registry")).toStdString();
    RegistryTree registry(path);
    QVERIFY(Registration::registerServer(registry, PERCHLIGHT_AGENT_MODULE));
    ModuleLoader registered;
    registered.load(RegistryTree(path));
    QCOMPARE(registered.modules().size(), std::size_t{1});
    RegistryTree written(path);
    QVERIFY(Registration::unregisterServer(written));
    ModuleLoader unregistered;
    unregistered.load(RegistryTree(path));
    QCOMPARE(unregistered.modules().size(), std::size_t{0});
}

// Opens the bird's menu with a click and chooses a command of it.
bool chooseFromMenu(QObject* bird, const QString& menuName, const QString& item) {
    QTest::mouseClick(qobject_cast<QWidget*>(bird), Qt::LeftButton);
    QMenu* menu = nullptr;
    const bool opened = QTest::qWaitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() == menuName && widget->isVisible()) {
                    menu = qobject_cast<QMenu*>(widget);
                }
            }
            return menu != nullptr;
        },
        kWaitMs);
    QAction* action = opened ? menu->findChild<QAction*>(item) : nullptr;
    if (action == nullptr || !action->isEnabled()) {
        return false;
    }
    action->trigger();
    menu->close();
    return true;
}

void AgentTest::menu_clickOpensItAndPolicySummaryShowsTheSummary() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/index.html")));
    QObject* bird = birdOf(window);
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    QTest::mouseClick(qobject_cast<QWidget*>(bird), Qt::LeftButton);
    QMenu* menu = nullptr;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() == checkingMenu() && widget->isVisible()) {
                    menu = qobject_cast<QMenu*>(widget);
                }
            }
            return menu != nullptr;
        },
        kWaitMs));
    QAction* summary = menu->findChild<QAction*>(QStringLiteral("item32787"));
    QVERIFY(summary != nullptr && summary->isEnabled());
    QAction* fullPolicy = menu->findChild<QAction*>(QStringLiteral("item32788"));
    QVERIFY(fullPolicy != nullptr);

    // The summary dialog is modal: answered by a timer armed before the command.
    QString shownTitle;
    QTimer closer;
    closer.setInterval(200);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget();
            modal != nullptr && modal->objectName() == QLatin1String("dialog219")) {
            shownTitle = modal->windowTitle();
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    closer.start();
    summary->trigger();
    menu->close();
    QVERIFY(QTest::qWaitFor([&] { return !shownTitle.isEmpty(); }, kWaitMs));
    closer.stop();
    QCOMPARE(shownTitle, QStringLiteral("Policy Summary"));
}

void AgentTest::postForm_toAConflictingSiteAsksAndNoSendsNothing() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/form.html")));
    QVERIFY(waitForFrame(birdOf(window), BirdFrames::kMatched));
    bool asked = false;
    QTimer answer;
    answer.setInterval(200);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != QLatin1String("dialog241")) {
            return;
        }
        asked = true;
        if (auto* no = modal->findChild<QPushButton*>(QStringLiteral("button2"))) {
            no->click();
        } else {
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    answer.start();
    window->page()->runJavaScript(QStringLiteral("document.getElementById('form').submit()"));
    QVERIFY(QTest::qWaitFor([&] { return asked; }, kWaitMs));
    answer.stop();
    QTest::qWait(500);
    QCOMPARE(m_server.requestCount("/bad/submit"), 0);
}

// A page closes its own window while that window's Policy Summary is open: the summary closes
// first and the window after it, and nothing of either is used once it went (the ASan run sees
// to that). The other window goes on as before.
void AgentTest::closingPage_summaryOpen_windowClosesAfterTheDialog() {
    BrowserWindow* other = load(m_server.url(0, QStringLiteral("/good/index.html")));
    QPointer<BrowserWindow> closing = load(m_server.url(0, QStringLiteral("/good/closing.html")));
    QObject* bird = birdOf(closing);
    QVERIFY(waitForFrame(birdOf(other), BirdFrames::kMatched));
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    bool closeAsked = false;
    QTimer pageCloses;
    pageCloses.setInterval(200);
    QObject::connect(&pageCloses, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!closeAsked && closing && modal != nullptr &&
            modal->objectName() == QLatin1String("dialog219")) {
            closeAsked = true;
            closing->page()->runJavaScript(QStringLiteral("window.close()"));
        }
    });
    pageCloses.start();
    QVERIFY(chooseFromMenu(bird, checkingMenu(), QStringLiteral("item32787")));
    QVERIFY(QTest::qWaitFor([&] { return closing.isNull(); }, kWaitMs));
    pageCloses.stop();
    QVERIFY(closeAsked);
    QCOMPARE(m_shell->windows().size(), std::size_t{1});
    other->load(m_server.url(0, QStringLiteral("/bad/index.html")));
    QVERIFY(waitForFrame(birdOf(other), BirdFrames::kUnmatched));
}

// The stored position is kept within the screen's own work area, whatever its size: a bird
// dropped near its far corner stays there once every bird has re-read the settings.
// AgentEndToEnd_LargeScreen runs this on a 2560 x 1440 screen.
void AgentTest::movedBird_droppedNearTheScreensFarCorner_staysThere() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/index.html")));
    auto* bird = qobject_cast<QWidget*>(birdOf(window));
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    QVERIFY(chooseFromMenu(bird, checkingMenu(), QStringLiteral("item32806")));
    QVERIFY(QTest::qWaitFor([&] { return bird->property("moving").toBool(); }, kWaitMs));
    const QRect area = bird->screen()->availableGeometry();
    const QPoint target = area.bottomRight() - QPoint(60, 20);
    QTest::mousePress(bird, Qt::LeftButton, {}, bird->mapFromGlobal(target));
    QVERIFY(!bird->property("moving").toBool());
    // The drop's broadcast reaches this process too, through a queued call.
    QTest::qWait(200);
    QCOMPARE(bird->pos(), target);
    QVERIFY(chooseFromMenu(bird, checkingMenu(), QStringLiteral("item32808")));
    QVERIFY(QTest::qWaitFor([&] { return bird->property("docked").toBool(); }, kWaitMs));
}

// The settings dialog holds its own browser window only: the help window it opens comes in
// front and takes keys while the dialog is still open, and so does another browser window.
void AgentTest::otherSettings_modalToItsWindow_helpOpensAUsableWindowInFront() {
    BrowserWindow* other = load(m_server.url(0, QStringLiteral("/good/index.html")));
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/index.html")));
    QObject* bird = birdOf(window);
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    const auto typeInto = [](BrowserWindow* target) {
        auto* address = target->findChild<QLineEdit*>(QStringLiteral("addressBar"));
        address->setFocus();
        address->clear();
        for (const char key : {'a', 'b', 'c'}) {
            QTest::keyClick(target->windowHandle(), key);  // as the window system delivers keys
        }
        return address->text();
    };
    Qt::WindowModality modality = Qt::NonModal;
    QString typedInHelp;
    QString typedInOther;
    bool helpInFront = false;
    bool helpAsked = false;
    bool done = false;
    QTimer driver;
    driver.setInterval(100);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || dialog->objectName() != QLatin1String("dialog225")) {
            return;
        }
        if (!helpAsked) {
            helpAsked = true;
            modality = dialog->windowModality();
            dialog->findChild<QPushButton*>(QStringLiteral("button368"))->click();
            return;
        }
        if (m_shell->windows().size() < 3) {
            return;
        }
        BrowserWindow* help = m_shell->windows().back();
        // Typed text would be overwritten when the help page commits and shows its address.
        if (!help->page()->url().path().endsWith(QLatin1String("/help/settings.html"))) {
            return;
        }
        helpInFront = QApplication::activeWindow() == help;
        typedInHelp = typeInto(help);
        typedInOther = typeInto(other);
        dialog->reject();
        done = true;
    });
    driver.start();
    QVERIFY(chooseFromMenu(bird, checkingMenu(), QStringLiteral("item32785")));
    QVERIFY(QTest::qWaitFor([&] { return done; }, kWaitMs));
    driver.stop();
    QCOMPARE(modality, Qt::WindowModal);
    QVERIFY(helpInFront);
    QCOMPARE(typedInHelp, QStringLiteral("abc"));
    QCOMPARE(typedInOther, QStringLiteral("abc"));
}

// The form check shows on the bird, which then returns to the page's own verdict; the form's
// window takes no input while the check runs and is usable again for the question.
void AgentTest::postForm_birdFlapsWhileCheckingThenShowsThePageAgain() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/form.html")));
    QObject* bird = birdOf(window);
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    QSignalSpy frames(bird, SIGNAL(frameChanged(int)));
    bool asked = false;
    bool enabledForTheQuestion = false;
    QTimer answer;
    answer.setInterval(100);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != QLatin1String("dialog241")) {
            return;
        }
        asked = true;
        enabledForTheQuestion = window->isEnabled();
        qobject_cast<QDialog*>(modal)->reject();
    });
    answer.start();
    window->page()->runJavaScript(QStringLiteral("document.getElementById('form').submit()"));
    QVERIFY(QTest::qWaitFor([&] { return asked; }, kWaitMs));
    answer.stop();
    QVERIFY(enabledForTheQuestion);
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    bool flapped = false;
    for (const QList<QVariant>& change : frames) {
        flapped = flapped || change.front().toInt() >= BirdFrames::kFirstFlap;
    }
    QVERIFY(flapped);
    QCOMPARE(frames.back().front().toInt(), int(BirdFrames::kMatched));
}

// "More Info" in the form's question shows the summary of the form's policy, while the
// submission waits for the answer.
void AgentTest::postForm_moreInfoShowsTheSummaryOfTheFormsPolicy() {
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/form.html")));
    QVERIFY(waitForFrame(birdOf(window), BirdFrames::kMatched));
    QString summaryText;
    bool moreInfoAsked = false;
    bool answered = false;
    QTimer question;
    question.setInterval(100);
    QObject::connect(&question, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != QLatin1String("dialog241")) {
            return;
        }
        if (!moreInfoAsked) {
            moreInfoAsked = true;
            // Opens the summary and returns when it has closed.
            modal->findChild<QPushButton*>(QStringLiteral("button3"))->click();
            return;
        }
        answered = true;
        qobject_cast<QDialog*>(modal)->reject();
    });
    QElapsedTimer shown;
    auto pageText = std::make_shared<QString>();
    QTimer summary;
    summary.setInterval(100);
    QObject::connect(&summary, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != QLatin1String("dialog219")) {
            return;
        }
        if (!shown.isValid()) {
            shown.start();
        }
        if (auto* view = modal->findChild<QWebEngineView*>()) {
            // The answer may come after this test: it goes to text that lives as long as it.
            view->page()->toPlainText([pageText](const QString& text) { *pageText = text; });
            summaryText = *pageText;
        } else if (auto* text = modal->findChild<QTextBrowser*>()) {
            summaryText = text->toPlainText();
        }
        if (summaryText.contains(QLatin1String("Privacy")) || shown.elapsed() > 10000) {
            qobject_cast<QDialog*>(modal)->reject();
        }
    });
    question.start();
    summary.start();
    window->page()->runJavaScript(QStringLiteral("document.getElementById('form').submit()"));
    QVERIFY(QTest::qWaitFor([&] { return answered; }, 2 * kWaitMs));
    question.stop();
    summary.stop();
    QVERIFY2(summaryText.contains(QLatin1String("does not match your preferences")),
             qPrintable(summaryText));
}

// Every new window lies within the screen's work area; where there is room, each stands a step
// away from the one before, so that none hides another.
void AgentTest::newWindows_stayWithinTheWorkArea() {
    std::vector<BrowserWindow*> windows;
    for (int i = 0; i < 12; ++i) {
        windows.push_back(m_shell->newWindow());
    }
    const QRect area = windows.front()->screen()->availableGeometry();
    for (BrowserWindow* window : windows) {
        QVERIFY2(area.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    }
    if (area.height() >= 2 * windows.front()->frameGeometry().height()) {
        QVERIFY(windows[1]->pos() != windows[0]->pos());
    }
}

// "Block PopUp Windows" in Other Settings reaches the shell: a clicked pop-up opens nothing,
// while a link's new window still opens. The box is cleared again at the end.
void AgentTest::blockPopups_setInOtherSettings_refusesAClickedPopup() {
    const auto setBlocking = [&](BrowserWindow* window, bool block) {
        bool done = false;
        QTimer driver;
        driver.setInterval(100);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog != nullptr && dialog->objectName() == QLatin1String("dialog225")) {
                auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("check388"));
                box->setChecked(block);
                dialog->findChild<QPushButton*>(QStringLiteral("button1"))->click();
                done = true;
            }
        });
        driver.start();
        const bool chosen =
            chooseFromMenu(birdOf(window), checkingMenu(), QStringLiteral("item32785"));
        return chosen && QTest::qWaitFor([&] { return done; }, kWaitMs);
    };
    BrowserWindow* first = load(m_server.url(0, QStringLiteral("/good/index.html")));
    QVERIFY(waitForFrame(birdOf(first), BirdFrames::kMatched));
    QVERIFY(setBlocking(first, true));
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/popups.html")));
    QVERIFY(waitForFrame(birdOf(window), BirdFrames::kMatched));
    QWidget* input = window->view()->focusProxy();
    QVERIFY(input != nullptr);
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 50));
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(50, 250));
    // Asked for in this order, the first new window would be the pop-up's.
    QVERIFY(QTest::qWaitFor([&] { return m_shell->windows().size() >= 3; }, kWaitMs));
    BrowserWindow* opened = m_shell->windows()[2];
    QVERIFY(QTest::qWaitFor([&] { return !opened->page()->requestedUrl().isEmpty(); }, kWaitMs));
    QCOMPARE(opened->page()->requestedUrl(),
             m_server.url(0, QStringLiteral("/good/index.html?link")));
    QVERIFY(setBlocking(first, false));
}

void AgentTest::cookieMenu_reachesEveryCookieDialog_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("title");
    QTest::newRow("report") << "item32800"
                            << "Cookie Report";
    QTest::newRow("override") << "item32789"
                              << "Cookie Settings for : 127.0.0.1";
    QTest::newRow("cookies") << "item32784"
                             << "Cookie Settings";
    QTest::newRow("override sites") << "item374"
                                    << "Cookie Override Site List";
    QTest::newRow("history") << "item32782"
                             << "Cookie History";
}

void AgentTest::cookieMenu_reachesEveryCookieDialog() {
    if (!m_cookieCommands) {
        QSKIP("the cookie commands are offered only with --cookie-commands");
    }
    QFETCH(QString, item);
    QFETCH(QString, title);
    BrowserWindow* window = load(m_server.url(0, QStringLiteral("/good/index.html")));
    QObject* bird = birdOf(window);
    QVERIFY(waitForFrame(bird, BirdFrames::kMatched));
    QString shown;
    QTimer closer;
    closer.setInterval(100);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown = modal->windowTitle();
            modal->reject();
        }
    });
    closer.start();
    QVERIFY(chooseFromMenu(bird, checkingMenu(), item));
    QVERIFY(QTest::qWaitFor([&] { return !shown.isEmpty(); }, kWaitMs));
    closer.stop();
    QCOMPARE(shown, title);
}

// Checking switched off in one window reaches every window through the broadcast; switched on
// again, each checks its page anew. Runs last: it changes the process's enabled switch.
void AgentTest::disable_greysTheBirdOfEveryWindowAndEnableChecksAgain() {
    QObject* first = birdOf(load(m_server.url(0, QStringLiteral("/good/index.html"))));
    QObject* second = birdOf(load(m_server.url(0, QStringLiteral("/bad/index.html"))));
    QVERIFY(waitForFrame(first, BirdFrames::kMatched));
    QVERIFY(waitForFrame(second, BirdFrames::kUnmatched));
    QVERIFY(chooseFromMenu(first, checkingMenu(), QStringLiteral("item32780")));
    QVERIFY(waitForFrame(first, BirdFrames::kSleeping));
    QVERIFY(waitForFrame(second, BirdFrames::kSleeping));
    QVERIFY(chooseFromMenu(second, QStringLiteral("menu215"), QStringLiteral("item32791")));
    QVERIFY(waitForFrame(first, BirdFrames::kMatched));
    QVERIFY(waitForFrame(second, BirdFrames::kUnmatched));
}

}  // namespace perchlight::test

// "--cookie-commands" among the arguments runs the agent with its cookie menu.
int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QStringList arguments = QApplication::arguments();
    const bool cookieCommands = arguments.removeAll(QStringLiteral("--cookie-commands")) > 0;
    perchlight::test::AgentTest test(cookieCommands);
    return QTest::qExec(&test, arguments);
}
#include "AgentTest.moc"
