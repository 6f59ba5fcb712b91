#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace perchlight {

class P3PPreferences;

// The message boxes that stand at the edge between the core and the dialogs: a failure of the
// core becomes an "Error" box instead of an exception out of a slot. Site text is shown as plain
// text. GUI thread.
class ErrorBox {
  public:
    // Runs the action; an error it raises is shown in an "Error" box. True when it succeeded.
    static bool run(QWidget* parent, const std::function<void()>& action);
    // Stores the settings; false after showing why they could not be stored.
    static bool saveSettings(QWidget* parent, P3PPreferences& preferences);
    // An "Error" box with the text as plain text.
    static void show(QWidget* parent, const QString& caption, const QString& text);
};

}  // namespace perchlight
