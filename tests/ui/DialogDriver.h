#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace perchlight::test {

// Answers a modal dialog that the code under test opens and runs exec() on: armed before the
// action, it looks for a visible top-level widget of the object name and hands it to the answer
// once. Owned by the test function, so that it never outlives it.
class DialogDriver {
  public:
    DialogDriver(QString objectName, std::function<void(QWidget*)> answer)
        : m_name(std::move(objectName)), m_answer(std::move(answer)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(20);
    }

    bool answered() const { return m_answered; }

  private:
    void poll() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->objectName() == m_name) {
                m_timer.stop();
                m_answered = true;
                m_answer(widget);
                return;
            }
        }
    }

    QString m_name;
    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    bool m_answered = false;
};

// Saves a picture of the widget as <name>.png in the folder that PERCHLIGHT_SCREENSHOTS names, so
// that a person can look at what the tests showed; nothing without it.
inline void screenshot(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("PERCHLIGHT_SCREENSHOTS");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        widget.grab().save(folder + "/" + name + ".png");
    }
}

}  // namespace perchlight::test
