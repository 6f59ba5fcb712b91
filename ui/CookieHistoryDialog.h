#pragma once

#include <QDialog>

#include "prefs/CookieHistory.h"

class QTreeWidget;

namespace perchlight {

class P3PPreferences;

// "Cookie History": the sites at which cookies were seen (list 372) and, for the one selected,
// the other sites whose cookies arrived there (list 371). Changes nothing. GUI thread only.
class CookieHistoryDialog : public QDialog {
    Q_OBJECT

  public:
    explicit CookieHistoryDialog(const P3PPreferences& preferences, QWidget* parent = nullptr);

  private:
    void showSitesOf(const QString& site);

    const CookieHistory::Sites m_sites;  // as at opening
    QTreeWidget* m_mainSites = nullptr;
    QTreeWidget* m_otherSites = nullptr;
};

}  // namespace perchlight
