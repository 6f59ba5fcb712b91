#include "ui/ErrorBox.h"

#include <QMessageBox>
#include <QPointer>
#include <exception>

#include "prefs/P3PPreferences.h"
#include "ui/DialogSupport.h"
#include "util/Error.h"

namespace perchlight {

bool ErrorBox::run(QWidget* parent, const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const Error& error) {
        show(parent, QStringLiteral("Error"), QString::fromStdString(error.message()));
    } catch (const std::exception& error) {
        show(parent, QStringLiteral("Error"), QString::fromLocal8Bit(error.what()));
    }
    return false;
}

bool ErrorBox::saveSettings(QWidget* parent, P3PPreferences& preferences) {
    return run(parent, [&preferences] { preferences.saveSettings(); });
}

void ErrorBox::show(QWidget* parent, const QString& caption, const QString& text) {
    // On the heap: the parent may go while the box is open, and takes the box with it.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("errorBox"));
    box->setTextFormat(Qt::PlainText);
    DialogSupport::runWindowModal(*box);
    delete box;
}

}  // namespace perchlight
