#pragma once

#include <QString>

class QWidget;

namespace perchlight {

// The cookies of the current page, as the bird menu's "Cookie &Report..." shows them: those the
// site set and those of other sites, each detected and blocked.
struct CookieCounts {
    int siteDetected = 0;
    int siteBlocked = 0;
    int otherDetected = 0;
    int otherBlocked = 0;
};

// The "Cookie Report" message box. GUI thread.
class CookieReport {
  public:
    // The report's text for the page's address.
    static QString text(const QString& address, const CookieCounts& counts);
    // Shows the report modally over the window, the address as plain text.
    static void show(QWidget* window, const QString& address, const CookieCounts& counts);
};

}  // namespace perchlight
