#pragma once

#include <QDialog>
#include <QStringList>

#include "ui/DialogSupport.h"

class QPushButton;
class QTreeWidget;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// "Cookie Override Site List": the per-site cookie overrides, from which the user deletes rows.
// OK removes the deleted sites' overrides from the store, leaving alone any override added since
// opening, writes the cookie preference file and tells the other processes; with no row deleted
// it changes nothing. GUI thread only.
class CookieOverrideListDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kDeleteButton = 354;

    // broadcast may be null (nothing is sent).
    CookieOverrideListDialog(P3PPreferences& preferences, BirdBroadcast* broadcast,
                             QWidget* parent = nullptr);

  private:
    void deleteSelected();
    void confirm();

    P3PPreferences& m_preferences;
    BirdBroadcast* m_broadcast;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_delete = nullptr;
    QStringList m_deleted;
};

}  // namespace perchlight
