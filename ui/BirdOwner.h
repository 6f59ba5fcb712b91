#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace perchlight {

class BirdBroadcast;

// What the bird needs from the browser window that owns it. The agent implements it once per
// window; tests stand in for it. Every call but summaryTipText comes on the GUI thread.
class BirdOwner {
  public:
    virtual ~BirdOwner() = default;

    // The browser window: owner of the floating bird, and where the focus goes back to.
    virtual QWidget* frameWindow() = 0;
    // The place at the right end of the window's tool bar that holds the docked bird; null when
    // the window has none (the bird then floats).
    virtual QWidget* dockSlot() = 0;
    // The summary of the current page's policy for the tooltip. Called on the thread that reports
    // the verdict, so it may take the page check's locks without stalling the windows.
    virtual QString summaryTipText() = 0;
    // The user's choice that a running check shows the flapping bird.
    virtual bool animationEnabled() = 0;
    // Stores the bird settings; raises the core's error when they cannot be written.
    virtual void saveSettings() = 0;
    // Reads the settings again (another process changed them).
    virtual void reloadSettings() = 0;
    // Checks the current page again (checking was switched on).
    virtual void recheckPage() = 0;
    // The broadcast to the bird windows of this and the other processes.
    virtual BirdBroadcast& broadcaster() = 0;
    // Builds the bird menu for the current page and opens it at the given screen point.
    virtual void openMenu(const QPoint& at) = 0;
};

}  // namespace perchlight
