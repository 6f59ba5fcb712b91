#include "ui/CookieReport.h"

#include <QMessageBox>
#include <QPointer>

#include "ui/DialogSupport.h"

namespace perchlight {

QString CookieReport::text(const QString& address, const CookieCounts& counts) {
    return QStringLiteral(
               "Cookies from \"%1\" detected: %2   \n"
               "Cookies from \"%1\" blocked: %3    \n"
               "Cookies from other sites detected: %4   \n"
               "Cookies from other sites blocked: %5    ")
        // One pass over the template: a "%2" inside the address stays as written.
        .arg(address, QString::number(counts.siteDetected), QString::number(counts.siteBlocked),
             QString::number(counts.otherDetected), QString::number(counts.otherBlocked));
}

void CookieReport::show(QWidget* window, const QString& address, const CookieCounts& counts) {
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Cookie Report"),
                        text(address, counts), QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("cookieReport"));
    box->setTextFormat(Qt::PlainText);
    DialogSupport::runWindowModal(*box);
    delete box;
}

}  // namespace perchlight
