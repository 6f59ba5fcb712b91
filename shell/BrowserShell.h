#pragma once

#include <QPointer>

#include <vector>

#include "shell/BrowserHelper.h"

class QWebEngineProfile;

namespace perchlight {

class BrowserWindow;

// The browser windows of this process and the helper modules each of them gets. Windows delete
// themselves when closed; the ones still open go with the shell. GUI thread only.
class BrowserShell {
  public:
    // The profile, when given, must outlive the shell; by default the browser's default profile.
    explicit BrowserShell(std::vector<HelperModule*> modules, QWebEngineProfile* profile = nullptr);
    ~BrowserShell();
    BrowserShell(const BrowserShell&) = delete;
    BrowserShell& operator=(const BrowserShell&) = delete;

    // Creates and shows a window with a helper of every module, showing a blank page.
    BrowserWindow* newWindow();
    // The windows still open, oldest first.
    std::vector<BrowserWindow*> windows() const;

  private:
    std::vector<HelperModule*> m_modules;
    QWebEngineProfile* m_profile;
    std::vector<QPointer<BrowserWindow>> m_windows;
};

}  // namespace perchlight
