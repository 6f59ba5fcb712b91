#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QListWidget;
class QPushButton;

namespace perchlight {

class BirdBroadcast;
class P3PPreferences;

// The list of sites never asked about before a form is posted ("List", 242, titled "No-prompt
// web sites"): the user deletes sites one click at a time and can switch the form warning off
// for every site. GUI thread.
class NoPromptSitesDialog : public QDialog {
    Q_OBJECT

  public:
    NoPromptSitesDialog(const QStringList& sites, bool dontWarnOnForms, QWidget* parent = nullptr);

    // The No-prompt Sites command: shows the dialog over the window and, after OK, stores the
    // setting and removes the deleted sites from the list as it stands then, the file's sites
    // included, so that sites another process added meanwhile stay. Tells the other processes.
    static void run(P3PPreferences& preferences, BirdBroadcast* broadcast, QWidget* window);

    // The sites still listed.
    QStringList sites() const;
    // Check box 376: no form warning on any site.
    bool dontWarnOnForms() const;

  private:
    void deleteSelected();
    void warnBoxClicked();
    void updateDelete();

    QListWidget* m_list = nullptr;
    QCheckBox* m_dontWarn = nullptr;
    QPushButton* m_delete = nullptr;
};

}  // namespace perchlight
