#include "shell/BrowserShell.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWebEngineProfile>

#include <algorithm>

#include "shell/BrowserWindow.h"

namespace perchlight {
namespace {

// Fits the 800 x 600 screen of a headless run with room for menus.
constexpr QSize kDefaultWindowSize(780, 560);
// Each new window is moved this far from the last one, so that both can be seen.
constexpr QPoint kCascadeStep(30, 30);
// Room for the window manager's frame around the window, which is known only once it is shown.
constexpr QSize kFrameAllowance(16, 48);

// Where a new window goes: a step below and right of the last one, or at the top left of the work
// area when it would not fit there; never larger than the work area.
QRect placement(const QWidget* previous) {
    const QScreen* screen =
        previous != nullptr ? previous->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {QPoint(0, 0), kDefaultWindowSize};
    }
    const QRect area = screen->availableGeometry();
    const QSize size = kDefaultWindowSize.boundedTo(area.size() - kFrameAllowance);
    const QRect start(area.topLeft(), size + kFrameAllowance);
    QRect frame = previous != nullptr
                      ? start.translated(previous->pos() - area.topLeft() + kCascadeStep)
                      : start;
    if (!area.contains(frame)) {
        frame = start;
    }
    return {frame.topLeft(), size};
}

}  // namespace

BrowserShell::BrowserShell(std::vector<HelperModule*> modules, QWebEngineProfile* profile)
    : m_modules(std::move(modules)),
      m_profile(profile != nullptr ? profile : QWebEngineProfile::defaultProfile()) {}

BrowserShell::~BrowserShell() {
    for (const QPointer<BrowserWindow>& window : m_windows) {
        delete window.data();
    }
}

BrowserWindow* BrowserShell::newWindow() {
    std::erase_if(m_windows, [](const QPointer<BrowserWindow>& window) { return window.isNull(); });
    const QWidget* previous = m_windows.empty() ? nullptr : m_windows.back().data();
    auto* window = new BrowserWindow(*this, m_profile, m_modules);
    m_windows.emplace_back(window);
    const QRect place = placement(previous);
    window->resize(place.size());
    window->move(place.topLeft());
    window->show();
    // In front, also of a dialog of another window that opened it (a link of the summary).
    window->raise();
    window->activateWindow();
    return window;
}

std::vector<BrowserWindow*> BrowserShell::windows() const {
    std::vector<BrowserWindow*> open;
    for (const QPointer<BrowserWindow>& window : m_windows) {
        if (!window.isNull()) {
            open.push_back(window.data());
        }
    }
    return open;
}

}  // namespace perchlight
