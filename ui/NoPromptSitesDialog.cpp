#include "ui/NoPromptSitesDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>
#include <set>

#include "prefs/BirdBroadcast.h"
#include "prefs/NoPromptSites.h"
#include "prefs/P3PPreferences.h"
#include "ui/DialogSupport.h"
#include "ui/ErrorBox.h"
#include "util/Monitor.h"

namespace perchlight {
namespace {

const char* const kText =
    "You have asked not to be prompted when submitting forms to the following web sites "
    "regardless of whether the site's privacy policy matches your preferences. To remove a site "
    "from this no-prompt list, select the site and click the Delete button.";

// The list as it stands now: this process's sites and those in the file, which another process
// may have added to since this one read it. Caller holds the preferences lock.
std::set<std::string> currentSites(const P3PPreferences& preferences) {
    std::set<std::string> sites;
    for (const Url& site : preferences.noPromptList()) {
        sites.insert(site.str());
    }
    NoPromptSites onDisk;
    onDisk.read(preferences.locations().userFile(P3PPreferences::kNoPromptSitesFile));
    for (const auto& [site, flag] : onDisk.sites()) {
        sites.insert(site.str());
    }
    return sites;
}

void removeSites(P3PPreferences& preferences, const QStringList& deleted) {
    MonitorLock guard(preferences.lock());
    std::set<std::string> sites = currentSites(preferences);
    for (const QString& site : deleted) {
        sites.erase(site.toStdString());
    }
    std::vector<Url> kept;
    for (const std::string& site : sites) {
        try {
            kept.emplace_back(site);
        } catch (const std::exception&) {
            // Not a URL any more: dropped with the deletion.
        }
    }
    preferences.setNoPromptList(kept);
}

}  // namespace

NoPromptSitesDialog::NoPromptSitesDialog(const QStringList& sites, bool dontWarnOnForms,
                                         QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("dialog242"));
    setWindowTitle(QStringLiteral("No-prompt web sites"));
    DialogSupport::beepOnHelpKey(*this);
    resize(420, 360);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromLatin1(kText), this);
    text->setObjectName(QStringLiteral("static355"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);

    auto* middle = new QHBoxLayout;
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("list353"));
    m_list->addItems(sites);
    middle->addWidget(m_list, 1);
    m_delete = new QPushButton(QStringLiteral("&Delete"), this);
    m_delete->setObjectName(QStringLiteral("button354"));
    m_delete->setAutoDefault(false);
    middle->addWidget(m_delete, 0, Qt::AlignTop);
    layout->addLayout(middle, 1);

    m_dontWarn = new QCheckBox(QStringLiteral("Do not &warn me about forms on any site"), this);
    m_dontWarn->setObjectName(QStringLiteral("check376"));
    m_dontWarn->setChecked(dontWarnOnForms);
    layout->addWidget(m_dontWarn);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("button1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("button2"));
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_delete, &QPushButton::clicked, this, &NoPromptSitesDialog::deleteSelected);
    connect(m_dontWarn, &QCheckBox::clicked, this, &NoPromptSitesDialog::warnBoxClicked);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &NoPromptSitesDialog::updateDelete);
    m_list->setEnabled(!dontWarnOnForms);
    updateDelete();
}

QStringList NoPromptSitesDialog::sites() const {
    QStringList listed;
    for (int row = 0; row < m_list->count(); ++row) {
        listed << m_list->item(row)->text();
    }
    return listed;
}

bool NoPromptSitesDialog::dontWarnOnForms() const {
    return m_dontWarn->isChecked();
}

void NoPromptSitesDialog::deleteSelected() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (!selected.isEmpty()) {
        delete selected.first();
    }
    updateDelete();
}

void NoPromptSitesDialog::warnBoxClicked() {
    m_list->setEnabled(!m_dontWarn->isChecked());
    m_list->clearSelection();
    updateDelete();
}

void NoPromptSitesDialog::updateDelete() {
    m_delete->setEnabled(!m_list->selectedItems().isEmpty());
}

void NoPromptSitesDialog::run(P3PPreferences& preferences, BirdBroadcast* broadcast,
                              QWidget* window) {
    QStringList copy;
    for (const Url& site : preferences.noPromptList()) {
        copy << QString::fromStdString(site.str());
    }
    const bool dontWarnBefore = preferences.dontWarnOnForms();
    QPointer<NoPromptSitesDialog> dialog = new NoPromptSitesDialog(copy, dontWarnBefore, window);
    const int result = DialogSupport::runWindowModal(*dialog);
    if (dialog == nullptr) {
        return;  // the window went, and the dialog with it
    }
    const QStringList kept = dialog->sites();
    const bool dontWarn = dialog->dontWarnOnForms();
    delete dialog;
    if (result != QDialog::Accepted) {
        return;
    }
    if (dontWarn != dontWarnBefore) {
        ErrorBox::run(window, [&] { preferences.setDontWarnOnForms(dontWarn); });
    }
    QStringList deleted;
    for (const QString& site : copy) {
        if (!kept.contains(site)) {
            deleted << site;
        }
    }
    if (deleted.isEmpty()) {
        return;
    }
    removeSites(preferences, deleted);
    if (broadcast != nullptr) {
        broadcast->broadcast(kBroadcastReloadNoPromptSites, false);
    }
}

}  // namespace perchlight
