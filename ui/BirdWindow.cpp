#include "ui/BirdWindow.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QCursor>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <QWindow>
#include <exception>

#include "prefs/BirdSettings.h"
#include "ui/BirdCommands.h"
#include "ui/BirdFrames.h"
#include "ui/BirdOwner.h"

namespace perchlight {
namespace {

// Below and right of the pointer, as the stock tooltips sit.
const QPoint kTipOffset(2, 18);

// The picture of a verdict; cookieBlocked selects the variant that says so.
int verdictFrame(int verdict, bool cookieBlocked) {
    return verdictPicture(verdict, cookieBlocked);
}

bool hasSummary(int verdict) {
    return verdictHasSummary(verdict);
}

}  // namespace

BirdWindow::BirdWindow(BirdOwner& owner) : m_owner(owner), m_tip(new QLabel(nullptr, Qt::ToolTip)) {
    setFixedSize(BirdFrames::kWidth, BirdFrames::kHeight);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    // Without it no tooltip appears while the browser window is not the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_tip->setTextFormat(Qt::PlainText);  // the summary carries the site's own words
    m_tip->setWordWrap(true);
    m_tip->setMaximumWidth(kMaxTipWidth);
    m_tip->setMargin(3);
    m_tip->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_tip->setPalette(QToolTip::palette());
    m_tip->setFont(QToolTip::font());
    m_tip->setForegroundRole(QPalette::ToolTipText);
    m_tip->setBackgroundRole(QPalette::ToolTipBase);
    m_tip->setAutoFillBackground(true);

    m_animation.setInterval(kAnimationInterval);
    connect(&m_animation, &QTimer::timeout, this, &BirdWindow::advanceAnimation);

    if (BirdSettings::enabled) {
        showEnabled();
    } else {
        showDisabled();
    }
    reposition();
    if (BirdSettings::enabled) {
        hide();  // until the owner shows it for a page
    } else {
        show();  // the sleeping bird stays in sight, so that checking can be switched on again
    }
}

BirdWindow::~BirdWindow() {
    if (m_moving) {
        releaseMouse();
    }
}

void BirdWindow::setCheckGeneration(std::uint64_t generation) {
    m_generation = generation;
}

void BirdWindow::showChecking(std::uint64_t generation) {
    QMetaObject::invokeMethod(
        this, [this, generation] { applyChecking(generation); }, Qt::QueuedConnection);
}

void BirdWindow::showVerdict(std::uint64_t generation, int verdict, bool cookieBlocked) {
    // Built here, on the reporting thread, from the owner's copy of the check's result.
    const QString summary =
        !cookieBlocked && hasSummary(verdict) ? m_owner.summaryTipText() : QString();
    QMetaObject::invokeMethod(
        this,
        [this, generation, verdict, cookieBlocked, summary] {
            applyVerdict(generation, verdict, cookieBlocked, summary);
        },
        Qt::QueuedConnection);
}

void BirdWindow::showNotWebPage() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_animation.stop();
            setFrame(BirdFrames::kEmptyBar);
        },
        Qt::QueuedConnection);
}

void BirdWindow::setTipText(const QString& text) {
    QMetaObject::invokeMethod(
        this, [this, text] { applyTipText(text); }, Qt::QueuedConnection);
}

void BirdWindow::applyChecking(std::uint64_t generation) {
    if (generation != m_generation) {
        return;
    }
    setChecking(true);
    if (!BirdSettings::enabled || !m_owner.animationEnabled()) {
        return;  // the previous picture stays until the verdict
    }
    setFrame(BirdFrames::kFirstFlap);
    m_animation.start();
    applyTipText(kTipIdle);
}

void BirdWindow::applyVerdict(std::uint64_t generation, int verdict, bool cookieBlocked,
                              const QString& summary) {
    if (generation != m_generation) {
        return;
    }
    setChecking(false);
    m_animation.stop();
    if (!BirdSettings::enabled) {
        return;
    }
    setFrame(verdictFrame(verdict, cookieBlocked));
    if (!cookieBlocked) {
        applyTipText(hasSummary(verdict) ? summary : kTipNoPolicy);
    }
}

void BirdWindow::applyTipText(const QString& text) {
    m_tipText = text.left(kMaxTipLength);
    if (m_tip->isVisible()) {
        showTip(m_tip->pos() - kTipOffset);
    }
}

void BirdWindow::showEnabled() {
    setChecking(false);
    m_animation.stop();
    setFrame(BirdFrames::kUnknown);
    applyTipText(kTipNoPolicy);
}

void BirdWindow::showDisabled() {
    m_animation.stop();
    setFrame(BirdFrames::kSleeping);
    applyTipText(kTipIdle);
}

void BirdWindow::setChecking(bool busy) {
    m_busy = busy;
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void BirdWindow::setFrame(int frame) {
    if (frame == m_frame) {
        return;
    }
    m_frame = frame;
    update();
    emit frameChanged(frame);
}

void BirdWindow::advanceAnimation() {
    const bool flapping = m_frame >= BirdFrames::kFirstFlap && m_frame < BirdFrames::kLastFlap;
    setFrame(flapping ? m_frame + 1 : BirdFrames::kFirstFlap);
}

void BirdWindow::runCommand(int command) {
    try {
        carryOut(command);
    } catch (const std::exception& error) {
        showError(QString::fromStdString(error.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
}

void BirdWindow::carryOut(int command) {
    switch (command) {
        case kCommandMoveBird:
            startMove();
            break;
        case kCommandReturnToTitleBar:
            returnToTitleBar();
            break;
        case kCommandDisable:
        case kCommandEnable: {
            const bool enable = command == kCommandEnable;
            const bool before = BirdSettings::enabled;
            BirdSettings::enabled = enable;
            if (!saveSettings()) {
                // The failure is shown; a switch that is not stored is not made anywhere, or the
                // next start would undo it without a word.
                BirdSettings::enabled = before;
                break;
            }
            m_owner.broadcaster().broadcast(
                enable ? kBroadcastCheckingEnabled : kBroadcastCheckingDisabled, true);
            break;
        }
        case kBroadcastCheckingEnabled:
            BirdSettings::enabled = true;
            showEnabled();
            m_owner.recheckPage();
            break;
        case kBroadcastCheckingDisabled:
            BirdSettings::enabled = false;
            showDisabled();
            break;
        case kBroadcastReloadSettingsAndPlace:
            m_owner.reloadSettings();
            reposition();
            break;
        default:
            break;
    }
}

void BirdWindow::reposition() {
    if (m_moving) {
        return;  // the user's hand placement wins over any stored position
    }
    QWidget* slot = m_owner.dockSlot();
    if (BirdSettings::onTitleBar && slot != nullptr) {
        dock(slot);
    } else {
        floatAt(QPoint(BirdSettings::positionX, BirdSettings::positionY));
    }
}

void BirdWindow::dock(QWidget* slot) {
    if (!isWindow() && parentWidget() == slot) {
        return;
    }
    const bool shown = !isHidden();
    setParent(slot, Qt::Widget);
    if (QLayout* layout = slot->layout()) {
        layout->addWidget(this);
    } else {
        move(slot->width() - width(), (slot->height() - height()) / 2);
    }
    applyShape();
    if (shown) {
        show();
    }
}

void BirdWindow::floatAt(const QPoint& position) {
    QWidget* frameWindow = m_owner.frameWindow();
    if (!isWindow() || parentWidget() != frameWindow) {
        const bool shown = !isHidden();
        if (parentWidget() != nullptr && parentWidget()->layout() != nullptr) {
            parentWidget()->layout()->removeWidget(this);
        }
        setParent(frameWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        applyShape();
        if (shown) {
            show();
        }
    }
    move(position);
}

// The rounded corners. QImage::createMaskFromColor with MaskOutColor would give the inverse.
void BirdWindow::applyShape() {
    setMask(QPixmap::fromImage(BirdFrames::shape())
                .createMaskFromColor(QColor(BirdFrames::kTransparent), Qt::MaskInColor));
}

void BirdWindow::startMove() {
    if (m_moving) {
        return;
    }
    m_tip->hide();
    floatAt(QCursor::pos());
    m_moving = true;
    show();
    raise();
    grabPointerWhenExposed();
}

// A new tool window is mapped asynchronously under a window manager, and a grab taken before
// then fails without a word: wait for the first expose.
void BirdWindow::grabPointerWhenExposed() {
    QWindow* window = windowHandle();
    if (window != nullptr && window->isExposed()) {
        grabMouse();
        return;
    }
    if (window != nullptr && !m_waitingForExpose) {
        m_waitingForExpose = true;
        window->installEventFilter(this);
    }
}

bool BirdWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_waitingForExpose && watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        m_waitingForExpose = false;
        watched->removeEventFilter(this);
        if (m_moving) {
            grabMouse();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BirdWindow::dropAt(const QPoint& position) {
    m_moving = false;
    releaseMouse();
    if (m_waitingForExpose && windowHandle() != nullptr) {
        windowHandle()->removeEventFilter(this);
    }
    m_waitingForExpose = false;
    BirdSettings::onTitleBar = false;
    BirdSettings::positionX = position.x();
    BirdSettings::positionY = position.y();
    move(position);
    saveAndBroadcastPlacement();
}

void BirdWindow::returnToTitleBar() {
    BirdSettings::onTitleBar = true;
    reposition();
    saveAndBroadcastPlacement();
}

// The other birds re-read the stored settings: when they could not be stored, telling them would
// only move this bird back to where it was.
void BirdWindow::saveAndBroadcastPlacement() {
    if (saveSettings()) {
        m_owner.broadcaster().broadcast(kBroadcastReloadSettingsAndPlace, true);
    }
}

bool BirdWindow::saveSettings() {
    try {
        m_owner.saveSettings();
        return true;
    } catch (const std::exception& error) {
        showError(QString::fromStdString(error.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
    return false;
}

void BirdWindow::showError(const QString& text) {
    QMessageBox::critical(m_owner.frameWindow(), QStringLiteral("Error"), text);
}

QPoint BirdWindow::menuPosition() const {
    return mapToGlobal(rect().bottomLeft() + QPoint(0, 1));
}

bool BirdWindow::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::ToolTip:
            if (!m_moving) {
                showTip(static_cast<QHelpEvent*>(event)->globalPos());
            }
            return true;
        case QEvent::Leave:
            m_tip->hide();
            break;
        default:
            break;
    }
    return QWidget::event(event);
}

void BirdWindow::showTip(const QPoint& at) {
    if (m_tipText.isEmpty()) {
        m_tip->hide();
        return;
    }
    m_tip->setText(m_tipText);
    // As wide as the text wants, up to the limit, and as high as the wrapped text then needs.
    const QFontMetrics metrics(m_tip->font());
    const int frame = 2 * (m_tip->frameWidth() + m_tip->margin());
    const int natural = metrics.boundingRect(QRect(0, 0, 1 << 20, 1 << 20), 0, m_tipText).width();
    const int width = qMin(natural + frame + 2, kMaxTipWidth);
    m_tip->resize(width, m_tip->heightForWidth(width));

    QPoint position = at + kTipOffset;
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        position.setX(qMax(area.left(), qMin(position.x(), area.right() - m_tip->width())));
        if (position.y() + m_tip->height() > area.bottom()) {
            position.setY(at.y() - m_tip->height() - 4);
        }
    }
    m_tip->move(position);
    m_tip->show();
}

void BirdWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(
        QPoint(0, 0), BirdFrames::strip(),
        QRect(m_frame * BirdFrames::kWidth, 0, BirdFrames::kWidth, BirdFrames::kHeight));
}

void BirdWindow::mousePressEvent(QMouseEvent* event) {
    m_tip->hide();
    event->accept();
    if (m_moving) {
        dropAt(event->globalPosition().toPoint());  // this click places the bird, no menu
        return;
    }
    if (!isVisible() || !isEnabled()) {
        return;
    }
    try {
        m_owner.openMenu(menuPosition());
    } catch (const std::exception& error) {
        showError(QString::fromStdString(error.what()));
    } catch (...) {
        showError(QStringLiteral("Unknown error"));
    }
}

void BirdWindow::mouseMoveEvent(QMouseEvent* event) {
    if (m_moving) {
        move(event->globalPosition().toPoint());
    }
}

// The window manager may offer to close the floating bird; it stays as long as its window.
void BirdWindow::closeEvent(QCloseEvent* event) {
    if (event->spontaneous()) {
        event->ignore();
    }
}

void BirdWindow::hideEvent(QHideEvent* event) {
    m_tip->hide();
    QWidget::hideEvent(event);
}

}  // namespace perchlight
