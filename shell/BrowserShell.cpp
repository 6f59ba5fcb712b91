#include "shell/BrowserShell.h"

#include <QWebEngineProfile>

#include <algorithm>

#include "shell/BrowserWindow.h"

namespace perchlight {
namespace {

// Fits the 800 x 600 screen of a headless run with room for menus.
constexpr QSize kDefaultWindowSize(780, 560);

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
    auto* window = new BrowserWindow(*this, m_profile, m_modules);
    m_windows.emplace_back(window);
    window->resize(kDefaultWindowSize);
    window->show();
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
