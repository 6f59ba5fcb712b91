#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "browser/BirdPicture.h"

class QLabel;

namespace perchlight {

class BirdOwner;

// The bird of one browser window: shows the page check's progress and verdict, carries the
// summary tooltip, opens the bird menu when clicked and sits either docked in the window's tool
// bar or floating at the user's chosen screen position. Its state setters may be called from any
// thread: they queue the change onto the GUI thread, where changes of a superseded check are
// dropped. Everything else is for the GUI thread. The owner outlives the bird, and a check thread
// that reports to it ends before the bird is destroyed. Docked, the bird is a child of the slot;
// floating, of the frame window: an owner that holds it keeps a QPointer or destroys it first.
class BirdWindow : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int frame READ frame NOTIFY frameChanged)
    Q_PROPERTY(QString tipText READ tipText)
    Q_PROPERTY(bool busy READ busy)
    Q_PROPERTY(bool docked READ docked)
    Q_PROPERTY(bool moving READ moving)
    Q_PROPERTY(bool animating READ animating)

  public:
    static constexpr int kAnimationInterval = 153;  // ms, 6.5 frames per second
    static constexpr int kMaxTipLength = static_cast<int>(kBirdMaxTipLength);
    static constexpr int kMaxTipWidth = 500;
    static inline const QString kTipIdle =
        QString::fromUtf8(kBirdTipIdle.data(), kBirdTipIdle.size());
    static inline const QString kTipNoPolicy =
        QString::fromUtf8(kBirdTipNoPolicy.data(), kBirdTipNoPolicy.size());

    // The bird of the owner's window, placed as the settings say and hidden until shown: with
    // checking enabled it shows the unknown verdict, otherwise the sleeping bird.
    explicit BirdWindow(BirdOwner& owner);
    ~BirdWindow() override;

    // GUI thread: a new check (or page) begins; state changes of older generations are dropped.
    void setCheckGeneration(std::uint64_t generation);
    std::uint64_t checkGeneration() const { return m_generation; }

    // Any thread. The flapping bird while the check of this generation runs.
    void showChecking(std::uint64_t generation);
    // Any thread. The verdict of a check (matched 0, unmatched 1, partly matched 2, unknown -1);
    // cookieBlocked: some cookie of the page was blocked.
    void showVerdict(std::uint64_t generation, int verdict, bool cookieBlocked);
    // Any thread. The empty bar of a page that is not a web page.
    void showNotWebPage();
    // Any thread. Replaces the tooltip text (cut to kMaxTipLength characters, shown as plain text).
    void setTipText(const QString& text);

    // Carries out a command of the bird menu (Move Bird, Return Bird to Title Bar, Enable,
    // Disable) or of the broadcast; others are left to the owner.
    void runCommand(int command);

    // Places the bird as the settings say: docked in the owner's slot or floating.
    void reposition();
    // Starts the placement by hand: the bird follows the pointer until the next click.
    void startMove();
    // Docks the bird, stores the settings and moves every bird of every process.
    void returnToTitleBar();
    // The screen point at which the bird menu opens: just below the bird's bottom-left corner.
    QPoint menuPosition() const;

    int frame() const { return m_frame; }
    QString tipText() const { return m_tipText; }
    bool busy() const { return m_busy; }
    bool docked() const { return !isWindow(); }
    bool moving() const { return m_moving; }
    bool animating() const { return m_animation.isActive(); }
    // The tooltip window, for tests.
    QLabel* tipLabel() const { return m_tip.get(); }

  signals:
    void frameChanged(int frame);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void carryOut(int command);
    void applyChecking(std::uint64_t generation);
    void applyVerdict(std::uint64_t generation, int verdict, bool cookieBlocked,
                      const QString& summary);
    void applyTipText(const QString& text);
    void showEnabled();
    void showDisabled();
    void setChecking(bool busy);
    void setFrame(int frame);
    void advanceAnimation();
    void dock(QWidget* slot);
    void floatAt(const QPoint& position);
    void applyShape();
    void grabPointerWhenExposed();
    void dropAt(const QPoint& position);
    void saveAndBroadcastPlacement();
    bool saveSettings();
    void showTip(const QPoint& at);
    void showError(const QString& text);

    BirdOwner& m_owner;
    QTimer m_animation;
    std::unique_ptr<QLabel> m_tip;
    QString m_tipText = kTipIdle;
    std::uint64_t m_generation = 0;
    int m_frame = 0;
    bool m_busy = false;
    bool m_moving = false;
    bool m_waitingForExpose = false;
};

}  // namespace perchlight
