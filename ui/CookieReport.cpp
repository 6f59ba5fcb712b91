#include "ui/CookieReport.h"

#include <QMessageBox>
#include <QPointer>

namespace perchlight {

QString CookieReport::text(const QString& address, const CookieCounts& counts) {
    return QStringLiteral(
               "Cookies from \"%1\" detected: %2   \n"
               "Cookies from \"%1\" blocked: %3    \n"
               "Cookies from other sites detected: %4   \n"
               "Cookies from other sites blocked: %5    ")
        .arg(address)
        .arg(counts.siteDetected)
        .arg(counts.siteBlocked)
        .arg(counts.otherDetected)
        .arg(counts.otherBlocked);
}

void CookieReport::show(QWidget* window, const QString& address, const CookieCounts& counts) {
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Cookie Report"),
                        text(address, counts), QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("cookieReport"));
    box->setTextFormat(Qt::PlainText);
    box->exec();
    delete box;
}

}  // namespace perchlight
