#include <QBitmap>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <stdexcept>
#include <thread>

#include "prefs/BirdSettings.h"
#include "ui/BirdCommands.h"
#include "ui/BirdFrames.h"
#include "ui/BirdOwner.h"
#include "ui/BirdWindow.h"

namespace perchlight {
namespace {

class RecordingBroadcast : public BirdBroadcast {
  public:
    void broadcast(int command, bool allProcesses) override {
        sent.append({command, allProcesses});
    }
    QList<QPair<int, bool>> sent;
};

// A browser window with a tool bar whose right end holds the docked bird.
class FakeOwner : public BirdOwner {
  public:
    explicit FakeOwner(bool withSlot = true) {
        window.resize(640, 120);
        window.move(40, 40);
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        auto* bar = new QWidget(&window);
        bar->setObjectName("toolBar");
        bar->setFixedHeight(24);
        column->addWidget(bar);
        column->addStretch();
        auto* layout = new QHBoxLayout(bar);
        layout->setContentsMargins(4, 3, 4, 3);
        layout->addStretch();
        slot = new QWidget(bar);
        slot->setObjectName("birdSlot");
        auto* slotLayout = new QHBoxLayout(slot);
        slotLayout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(slot);
        if (!withSlot) {
            delete slot;
            slot = nullptr;
        }
    }

    QWidget* frameWindow() override { return &window; }
    QWidget* dockSlot() override { return slot; }
    QString summaryTipText() override {
        summaryThread = std::this_thread::get_id();
        return summary;
    }
    bool animationEnabled() override { return animation; }
    void saveSettings() override {
        if (failSave) {
            throw std::runtime_error("Unable to access registry key");
        }
        ++saves;
    }
    void reloadSettings() override { ++reloads; }
    void recheckPage() override { ++rechecks; }
    BirdBroadcast& broadcaster() override { return broadcast; }
    void openMenu(const QPoint& at) override { menus.append(at); }

    QWidget window;
    QWidget* slot = nullptr;
    QString summary = "Example Co's privacy policy  matches your preferences";
    std::thread::id summaryThread;
    bool animation = true;
    bool failSave = false;
    int saves = 0;
    int reloads = 0;
    int rechecks = 0;
    RecordingBroadcast broadcast;
    QList<QPoint> menus;
};

// Carries out the state changes queued on the bird so far.
void settle(BirdWindow& bird) {
    QCoreApplication::sendPostedEvents(&bird, QEvent::MetaCall);
}

// Presses the button of the next modal message box and remembers its caption and text.
class MessageBoxAnswerer : public QObject {
  public:
    MessageBoxAnswerer() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
        m_timer.start(20);
    }
    QString caption;
    QString text;

  private:
    QTimer m_timer;
};

}  // namespace

class BirdWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { BirdSettings::reset(); }
    void cleanup() { BirdSettings::reset(); }

    void create_enabled_showsUnknownAndStaysHidden() {
        FakeOwner owner;
        BirdWindow bird(owner);
        QCOMPARE(bird.frame(), int(BirdFrames::kUnknown));
        QCOMPARE(bird.tipText(), BirdWindow::kTipNoPolicy);
        QVERIFY(bird.isHidden());
        QCOMPARE(bird.size(), QSize(100, 18));
    }

    void create_disabled_showsSleepingBirdInSight() {
        BirdSettings::enabled = false;
        FakeOwner owner;
        owner.window.show();
        BirdWindow bird(owner);
        QCOMPARE(bird.frame(), int(BirdFrames::kSleeping));
        QCOMPARE(bird.tipText(), BirdWindow::kTipIdle);
        QVERIFY(bird.isVisible());
    }

    void verdict_showsFrameAndTooltip_data() {
        QTest::addColumn<int>("verdict");
        QTest::addColumn<bool>("cookieBlocked");
        QTest::addColumn<int>("frame");
        QTest::addColumn<QString>("tip");
        const QString summary = FakeOwner().summary;
        const QString before = "before";
        QTest::newRow("unknown") << -1 << false << 4 << BirdWindow::kTipNoPolicy;
        QTest::newRow("matched") << 0 << false << 0 << summary;
        QTest::newRow("unmatched") << 1 << false << 6 << summary;
        QTest::newRow("partly matched") << 2 << false << 1 << summary;
        QTest::newRow("unknown, cookie blocked") << -1 << true << 5 << before;
        QTest::newRow("matched, cookie blocked") << 0 << true << 2 << before;
        QTest::newRow("unmatched, cookie blocked") << 1 << true << 7 << before;
        QTest::newRow("partly matched, cookie blocked") << 2 << true << 3 << before;
        QTest::newRow("no such verdict counts as unknown")
            << 7 << false << 4 << BirdWindow::kTipNoPolicy;
    }

    void verdict_showsFrameAndTooltip() {
        QFETCH(int, verdict);
        QFETCH(bool, cookieBlocked);
        QFETCH(int, frame);
        QFETCH(QString, tip);
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.setTipText("before");
        bird.setCheckGeneration(3);
        bird.showVerdict(3, verdict, cookieBlocked);
        settle(bird);
        QCOMPARE(bird.frame(), frame);
        QCOMPARE(bird.tipText(), tip);
        QVERIFY(!bird.animating());
    }

    void verdict_whileDisabled_keepsSleepingBird() {
        BirdSettings::enabled = false;
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.showChecking(0);
        QTRY_VERIFY(bird.busy());
        QVERIFY(!bird.animating());
        bird.showVerdict(0, 1, false);
        QTRY_VERIFY(!bird.busy());
        QCOMPARE(bird.frame(), int(BirdFrames::kSleeping));
        QCOMPARE(bird.tipText(), BirdWindow::kTipIdle);
    }

    // The flapping frames follow each other in a loop while the check runs; the verdict stops it.
    void checking_animatesUntilVerdict() {
        FakeOwner owner;
        BirdWindow bird(owner);
        QSignalSpy frames(&bird, &BirdWindow::frameChanged);
        bird.showChecking(0);
        QTRY_VERIFY(bird.animating());
        QCOMPARE(bird.frame(), int(BirdFrames::kFirstFlap));
        QCOMPARE(bird.tipText(), BirdWindow::kTipIdle);
        QCOMPARE(bird.cursor().shape(), Qt::WaitCursor);
        QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 6, 5000);
        for (int i = 1; i < frames.count(); ++i) {
            const int previous = frames.at(i - 1).at(0).toInt();
            const int next = frames.at(i).at(0).toInt();
            QCOMPARE(next, previous == 13 ? 10 : previous + 1);
        }
        bird.showVerdict(0, 0, false);
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kMatched));
        QVERIFY(!bird.animating());
        QCOMPARE(bird.cursor().shape(), Qt::ArrowCursor);
    }

    void checking_withAnimationOff_keepsPreviousPicture() {
        FakeOwner owner;
        owner.animation = false;
        BirdWindow bird(owner);
        bird.showVerdict(0, 1, false);
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kUnmatched));
        bird.showChecking(0);
        QTRY_VERIFY(bird.busy());
        QCOMPARE(bird.frame(), int(BirdFrames::kUnmatched));
        QCOMPARE(bird.tipText(), owner.summary);
        QVERIFY(!bird.animating());
    }

    void lateUpdate_ofSupersededCheck_isIgnored() {
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.setCheckGeneration(1);
        bird.showChecking(1);
        QTRY_VERIFY(bird.animating());
        bird.setCheckGeneration(2);  // the user went to the next page
        std::thread oldCheck([&] { bird.showVerdict(1, 0, false); });
        oldCheck.join();
        bird.showNotWebPage();
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kEmptyBar));
        QCoreApplication::processEvents();
        QCOMPARE(bird.frame(), int(BirdFrames::kEmptyBar));
        QVERIFY(bird.busy());  // only the current check's verdict ends the busy state

        std::thread currentCheck([&] {
            bird.showChecking(2);
            bird.showVerdict(2, 1, false);
        });
        currentCheck.join();
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kUnmatched));
        QVERIFY(!bird.busy());
        QVERIFY(owner.summaryThread != std::this_thread::get_id());
    }

    void notWebPage_showsEmptyBarEvenWhenDisabled() {
        BirdSettings::enabled = false;
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.showNotWebPage();
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kEmptyBar));
        QCOMPARE(bird.tipText(), BirdWindow::kTipIdle);
    }

    void tooltip_isCutAndShownAsPlainText() {
        FakeOwner owner;
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        const QString siteText = "<b>Example</b> & Co ";
        QString text;
        while (text.size() < 12000) {
            text += siteText;
        }
        bird.setTipText(text);
        QTRY_COMPARE(bird.tipText().size(), BirdWindow::kMaxTipLength);
        QVERIFY(text.startsWith(bird.tipText()));

        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), bird.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&bird, &help);
        QLabel* tip = bird.tipLabel();
        QVERIFY(tip->isVisible());
        QCOMPARE(tip->textFormat(), Qt::PlainText);
        QVERIFY(tip->text().startsWith("<b>Example</b>"));
        QVERIFY(tip->width() <= BirdWindow::kMaxTipWidth);
        QVERIFY(tip->height() > 3 * tip->fontMetrics().height());  // wrapped, not cut off

        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&bird, &leave);
        QVERIFY(!tip->isVisible());
    }

    void tooltip_shortText_isNarrow() {
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.show();
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), bird.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&bird, &help);
        QVERIFY(bird.tipLabel()->isVisible());
        QVERIFY(bird.tipLabel()->width() < 300);
        QCOMPARE(bird.tipLabel()->text(), BirdWindow::kTipNoPolicy);
    }

    void mask_clearsTheRoundedCorners_data() {
        QTest::addColumn<bool>("onTitleBar");
        QTest::newRow("docked") << true;
        QTest::newRow("floating") << false;
    }

    void mask_clearsTheRoundedCorners() {
        QFETCH(bool, onTitleBar);
        BirdSettings::onTitleBar = onTitleBar;
        FakeOwner owner;
        BirdWindow bird(owner);
        const QRegion mask = bird.mask();
        for (const QPoint clear : {QPoint(0, 0), QPoint(1, 0), QPoint(98, 0), QPoint(99, 0),
                                   QPoint(0, 1), QPoint(99, 1), QPoint(0, 16), QPoint(99, 16),
                                   QPoint(0, 17), QPoint(1, 17), QPoint(98, 17), QPoint(99, 17)}) {
            QVERIFY2(!mask.contains(clear),
                     qPrintable(QString("%1,%2").arg(clear.x()).arg(clear.y())));
        }
        for (const QPoint kept : {QPoint(2, 0), QPoint(97, 0), QPoint(1, 1), QPoint(0, 2),
                                  QPoint(50, 9), QPoint(99, 15), QPoint(2, 17)}) {
            QVERIFY2(mask.contains(kept), qPrintable(QString("%1,%2").arg(kept.x()).arg(kept.y())));
        }
    }

    void placement_docked_isChildOfTheSlot() {
        FakeOwner owner;
        BirdWindow bird(owner);
        QVERIFY(bird.docked());
        QCOMPARE(bird.parentWidget(), owner.slot);
        QVERIFY(owner.slot->layout()->indexOf(&bird) >= 0);
    }

    void placement_floating_isToolWindowAtPosition() {
        BirdSettings::onTitleBar = false;
        BirdSettings::positionX = 300;
        BirdSettings::positionY = 200;
        FakeOwner owner;
        BirdWindow bird(owner);
        QVERIFY(!bird.docked());
        QCOMPARE(bird.parentWidget(), &owner.window);
        QCOMPARE(bird.windowType(), Qt::Tool);
        QVERIFY(bird.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(bird.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QCOMPARE(bird.pos(), QPoint(300, 200));
    }

    void placement_withoutSlot_floats() {
        FakeOwner owner(false);
        BirdWindow bird(owner);
        QVERIFY(!bird.docked());
        QCOMPARE(bird.pos(), QPoint(50, 50));
    }

    void placement_reloadCommand_movesBetweenDockAndFloat() {
        FakeOwner owner;
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        BirdSettings::onTitleBar = false;
        BirdSettings::positionX = 120;
        BirdSettings::positionY = 90;
        bird.runCommand(kBroadcastReloadSettingsAndPlace);
        QCOMPARE(owner.reloads, 1);
        QVERIFY(!bird.docked());
        QVERIFY(bird.isVisible());
        QCOMPARE(bird.pos(), QPoint(120, 90));
        BirdSettings::onTitleBar = true;
        bird.runCommand(kBroadcastReloadSettingsAndPlace);
        QVERIFY(bird.docked());
        QVERIFY(bird.isVisible());
    }

    // The click that ends the placement drops the bird where it happens, opens no menu, and
    // stores and announces the new place.
    void moveByHand_dropsAtTheClick() {
        FakeOwner owner;
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        bird.runCommand(kCommandMoveBird);
        QVERIFY(bird.moving());
        QVERIFY(!bird.docked());
        QVERIFY(BirdSettings::onTitleBar);  // nothing is stored until the drop

        QTest::mouseMove(&bird, QPoint(30, 8));
        const QPoint dropped = bird.mapToGlobal(QPoint(10, 5));
        QTest::mousePress(&bird, Qt::LeftButton, {}, QPoint(10, 5));
        QCOMPARE(QPoint(BirdSettings::positionX, BirdSettings::positionY), dropped);
        QVERIFY(!bird.moving());
        QVERIFY(!BirdSettings::onTitleBar);
        QCOMPARE(bird.pos(), dropped);
        QVERIFY(owner.menus.isEmpty());
        QCOMPARE(owner.saves, 1);
        QCOMPARE(owner.broadcast.sent, (QList<QPair<int, bool>>{{32807, true}}));

        bird.runCommand(kBroadcastReloadSettingsAndPlace);  // the broadcast comes back
        QVERIFY(!bird.docked());
        QCOMPARE(bird.pos(), dropped);
    }

    void moveByHand_followsThePointer() {
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.show();
        bird.startMove();
        const QPoint start = bird.pos();
        QTest::mouseMove(&bird, QPoint(40, 9));
        QTRY_COMPARE(bird.pos(), start + QPoint(40, 9));
        QTest::mousePress(&bird, Qt::RightButton, {}, QPoint(0, 0));
        QCOMPARE(QPoint(BirdSettings::positionX, BirdSettings::positionY), bird.pos());
    }

    void moveByHand_saveFails_showsErrorAndTellsNoOne() {
        FakeOwner owner;
        owner.failSave = true;
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        bird.startMove();
        MessageBoxAnswerer answerer;
        QTest::mousePress(&bird, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(answerer.caption, QString("Error"));
        QCOMPARE(answerer.text, QString("Unable to access registry key"));
        QVERIFY(owner.broadcast.sent.isEmpty());
        QVERIFY(!bird.moving());
        QVERIFY(!bird.docked());
    }

    void disable_saveFails_showsErrorAndSwitchesNothing() {
        FakeOwner owner;
        owner.failSave = true;
        BirdWindow bird(owner);
        MessageBoxAnswerer answerer;
        bird.runCommand(kCommandDisable);
        QCOMPARE(answerer.caption, QString("Error"));
        QVERIFY(BirdSettings::enabled);
        QVERIFY(owner.broadcast.sent.isEmpty());
    }

    void returnToTitleBar_docksStoresAndAnnounces() {
        BirdSettings::onTitleBar = false;
        FakeOwner owner;
        BirdWindow bird(owner);
        QVERIFY(!bird.docked());
        bird.runCommand(kCommandReturnToTitleBar);
        QVERIFY(bird.docked());
        QVERIFY(BirdSettings::onTitleBar);
        QCOMPARE(owner.saves, 1);
        QCOMPARE(owner.broadcast.sent, (QList<QPair<int, bool>>{{32807, true}}));
    }

    void click_opensMenuBelowTheBird() {
        FakeOwner owner;
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner.window));
        QTest::mouseClick(&bird, Qt::LeftButton, {}, QPoint(50, 9));
        QCOMPARE(owner.menus, QList<QPoint>{bird.mapToGlobal(QPoint(0, 18))});

        bird.setEnabled(false);  // one of its dialogs is open
        QTest::mouseClick(&bird, Qt::RightButton, {}, QPoint(50, 9));
        QCOMPARE(owner.menus.size(), 1);
    }

    void disableAndEnable_storeAndReachEveryProcess() {
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.runCommand(kCommandDisable);
        QVERIFY(!BirdSettings::enabled);
        QCOMPARE(owner.saves, 1);
        QCOMPARE(owner.broadcast.sent, (QList<QPair<int, bool>>{{32793, true}}));
        bird.runCommand(kBroadcastCheckingDisabled);
        QCOMPARE(bird.frame(), int(BirdFrames::kSleeping));
        QCOMPARE(bird.tipText(), BirdWindow::kTipIdle);

        bird.runCommand(kCommandEnable);
        QVERIFY(BirdSettings::enabled);
        QCOMPARE(owner.broadcast.sent.last(), (QPair<int, bool>{32792, true}));
        bird.runCommand(kBroadcastCheckingEnabled);
        QCOMPARE(bird.frame(), int(BirdFrames::kUnknown));
        QCOMPARE(bird.tipText(), BirdWindow::kTipNoPolicy);
        QCOMPARE(owner.rechecks, 1);
    }

    void disable_whileChecking_stopsTheAnimation() {
        FakeOwner owner;
        BirdWindow bird(owner);
        bird.showChecking(0);
        QTRY_VERIFY(bird.animating());
        bird.runCommand(kBroadcastCheckingDisabled);
        QVERIFY(!bird.animating());
        QCOMPARE(bird.frame(), int(BirdFrames::kSleeping));
    }

    // Pictures to look at: PERCHLIGHT_BIRD_GRABS names the folder that receives them.
    void grabs_forTheEye() {
        const QString folder = qEnvironmentVariable("PERCHLIGHT_BIRD_GRABS");
        if (folder.isEmpty()) {
            QSKIP("PERCHLIGHT_BIRD_GRABS is not set");
        }
        const QImage& strip = BirdFrames::strip();
        QVERIFY(strip.scaled(strip.size() * 4).save(folder + "/strip-x4.png"));
        FakeOwner owner;
        owner.window.resize(420, 80);
        owner.window.setStyleSheet(
            "#toolBar { background: #dde3ea; border-bottom: 1px solid #a0a8b0; }");
        owner.window.findChild<QWidget*>("toolBar")->setAttribute(Qt::WA_StyledBackground);
        owner.window.show();
        BirdWindow bird(owner);
        bird.show();
        bird.showVerdict(0, 1, false);
        QTRY_COMPARE(bird.frame(), int(BirdFrames::kUnmatched));
        QVERIFY(owner.window.grab().scaled(840, 160).save(folder + "/docked-x2.png"));

        bird.setTipText(
            "<b>Example Co</b>'s privacy policy  does not match your preferences \n"
            "\nThe site collects your contact details to tell you about its products, and "
            "shares them with companies whose practices are unknown.");
        settle(bird);
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), bird.mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(&bird, &help);
        QVERIFY(bird.tipLabel()->grab().save(folder + "/tooltip.png"));
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::BirdWindowTest)
#include "BirdWindowTest.moc"
