#pragma once

#include <QString>
#include <functional>

#include "prefs/CookiePreferences.h"

class QAbstractButton;
class QDialog;
class QHBoxLayout;
class QPushButton;
class QWidget;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// What the preference dialogs share: their message boxes, their help pages, the boundary at
// which a raised error becomes a message, and the one way the cookie preference file is changed.
// GUI thread only.
class DialogSupport {
  public:
    // Opens a help page (a local file path); tests stand in for the browser that shows it.
    using HelpOpener = std::function<void(const QString& path)>;

    // Shows the page with the desktop's handler for local HTML files.
    static void openHelpPage(const QString& path);
    // The help page of a topic in the module directory's "help" folder ("privacy.html#levels").
    static QString helpPath(const P3PPreferences& preferences, const QString& topic);

    // A message box with the caption "Error" and only an OK button.
    static void showError(QWidget* parent, const QString& message);
    // A message box with the caption "Warning", the exclamation icon and only an OK button.
    static void showWarning(QWidget* parent, const QString& message);
    // Runs a dialog's action; whatever it raises is shown in an "Error" box instead of leaving the
    // slot. True when it raised nothing.
    static bool guarded(QWidget* parent, const std::function<void()>& action);

    // Applies change to a copy of the cookie preferences under the preferences lock; when change
    // returns true, the copy is stored and the cookie preference file written, and the other
    // processes are told to re-read it (32803). A file that cannot be written leaves the store as
    // it was and shows the writer's message. False only when the write failed.
    static bool changeCookiePreferences(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                        QWidget* parent,
                                        const std::function<bool(CookiePreferences&)>& change);

    // Runs a dialog modal to its own browser window (and that window's bird) only: the other
    // browser windows, and the windows the dialog opens, stay usable. Returns exec()'s result.
    static int runWindowModal(QDialog& dialog);

    // F1 in a dialog that has no help of its own: a plain beep.
    static void beepOnHelpKey(QWidget& dialog);
    // What the beep does; tests stand in for the sound.
    static std::function<void()>& beeper();

    // Names a control after its number ("button312"), the name by which tests find it.
    static void name(QAbstractButton* button, int id);
    // Ends a dialog's button row: a stretch, then "OK" (id 1, the default button) and "Cancel"
    // (id 2, which rejects the dialog). Returns OK for the caller to connect.
    static QPushButton* addOkCancel(QDialog& dialog, QHBoxLayout& row);
};

}  // namespace perchlight
