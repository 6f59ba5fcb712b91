#include "ui/DialogSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>
#include <exception>

#include "prefs/BirdBroadcast.h"
#include "prefs/P3PPreferences.h"
#include "util/Error.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
             const QString& message) {
    QMessageBox box(icon, caption, message, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // messages may quote file names and parser output
    DialogSupport::runWindowModal(box);
}

}  // namespace

void DialogSupport::openHelpPage(const QString& path) {
    const int anchor = path.indexOf('#');
    QUrl url = QUrl::fromLocalFile(anchor < 0 ? path : path.left(anchor));
    if (anchor >= 0) {
        url.setFragment(path.mid(anchor + 1));
    }
    QDesktopServices::openUrl(url);
}

QString DialogSupport::helpPath(const P3PPreferences& preferences, const QString& topic) {
    return QString::fromStdString(preferences.locations().shippedDirectory()) + "/help/" + topic;
}

void DialogSupport::showError(QWidget* parent, const QString& message) {
    showBox(parent, QMessageBox::NoIcon, "Error", message);
}

void DialogSupport::showWarning(QWidget* parent, const QString& message) {
    showBox(parent, QMessageBox::Warning, "Warning", message);
}

bool DialogSupport::guarded(QWidget* parent, const std::function<void()>& action) {
    QString message;
    try {
        action();
        return true;
    } catch (const Error& error) {
        message = QString::fromStdString(error.message());
    } catch (const std::exception& error) {
        message = QString::fromLocal8Bit(error.what());
    }
    showError(parent, message);
    return false;
}

bool DialogSupport::changeCookiePreferences(P3PPreferences& preferences, BirdBroadcast* broadcast,
                                            QWidget* parent,
                                            const std::function<bool(CookiePreferences&)>& change) {
    bool written = false;
    const bool succeeded = guarded(parent, [&] {
        // One lock over read, change and write: a reload or another dialog cannot slip between.
        // It is released before a message box runs its event loop or the broadcast goes out.
        MonitorLock guard(preferences.lock());
        const CookiePreferences before = preferences.cookiePreferences();
        CookiePreferences after = before;
        if (!change(after)) {
            return;
        }
        preferences.setCookiePreferences(after);
        try {
            preferences.writeCookiePreferences(preferences.locations().userDirectory() +
                                               P3PPreferences::kCookiePreferencesFile);
        } catch (...) {
            preferences.setCookiePreferences(before);  // the store keeps matching the file
            throw;
        }
        written = true;
    });
    if (written && broadcast != nullptr) {
        broadcast->broadcast(kBroadcastReloadCookiePreferences, false);
    }
    return succeeded;
}

int DialogSupport::runWindowModal(QDialog& dialog) {
    // Without a modality of its own, exec() would block every window of the process.
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

void DialogSupport::beepOnHelpKey(QWidget& dialog) {
    // A shortcut, so that the key counts while a list or a page has the focus.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), &dialog);
    help->setObjectName(QStringLiteral("helpKeyBeep"));
    help->setContext(Qt::WindowShortcut);
    QObject::connect(help, &QShortcut::activated, [] { beeper()(); });
}

std::function<void()>& DialogSupport::beeper() {
    static std::function<void()> beep = [] { QApplication::beep(); };
    return beep;
}

void DialogSupport::name(QAbstractButton* button, int id) {
    button->setObjectName(QString("button%1").arg(id));
}

QPushButton* DialogSupport::addOkCancel(QDialog& dialog, QHBoxLayout& row) {
    auto* ok = new QPushButton("OK");
    name(ok, 1);
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel");
    name(cancel, 2);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    row.addStretch(1);
    row.addWidget(ok);
    row.addWidget(cancel);
    return ok;
}

}  // namespace perchlight
