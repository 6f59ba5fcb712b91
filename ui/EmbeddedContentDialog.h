#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "ui/EmbeddedContentSnapshot.h"
#include "ui/WebHostPage.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace perchlight {

class PolicyCache;

// "Embedded Content" (229): the page's embedded items with their policy state, type and policy;
// the summary (219) or the source of a selected item's policy. A column header click sorts by
// that column and each further click reverses the order. GUI thread.
class EmbeddedContentDialog : public QDialog {
    Q_OBJECT

  public:
    EmbeddedContentDialog(EmbeddedContentSnapshot snapshot, PolicyCache& cache,
                          AddressOpener opener, QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }

  signals:
    // "&Help" asks for this help page.
    void helpRequested(const QString& topic);

  public slots:
    void showPolicySummary();
    void viewPolicySource();

  private:
    void fillRows();
    void updateButtons();
    void sortByColumn(int column);
    void showPopup(const QPoint& at);
    const EmbeddedContentRow* selectedRow() const;

    EmbeddedContentSnapshot m_snapshot;
    PolicyCache& m_cache;
    AddressOpener m_opener;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_summaryButton = nullptr;
    QPushButton* m_sourceButton = nullptr;
    std::vector<int> m_directions;
};

}  // namespace perchlight
