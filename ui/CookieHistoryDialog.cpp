#include "ui/CookieHistoryDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "prefs/P3PPreferences.h"

namespace perchlight {
namespace {

QTreeWidget* siteList(const QString& name) {
    auto* list = new QTreeWidget;
    list->setObjectName(name);
    list->setHeaderLabels({"Sitename"});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}

QTreeWidgetItem* siteRow(const std::string& site) {
    // Site names come from pages: an item shows them as plain text.
    return new QTreeWidgetItem(QStringList{QString::fromStdString(site)});
}

}  // namespace

CookieHistoryDialog::CookieHistoryDialog(const P3PPreferences& preferences, QWidget* parent)
    : QDialog(parent), m_sites(preferences.cookieHistory().sites()) {
    setWindowTitle("Cookie History");
    m_mainSites = siteList("list372");
    m_otherSites = siteList("list371");
    auto* ok = new QPushButton("OK");
    ok->setObjectName("button1");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Cookies were detected at the following sites:"));
    layout->addWidget(m_mainSites);
    layout->addWidget(new QLabel("Third-party cookies were sent from the following sites:"));
    layout->addWidget(m_otherSites);
    layout->addLayout(buttons);

    for (const auto& [site, others] : m_sites) {
        m_mainSites->addTopLevelItem(siteRow(site));
    }
    connect(m_mainSites, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        showSitesOf(current != nullptr ? current->text(0) : QString());
    });
    if (m_mainSites->topLevelItemCount() > 0) {
        m_mainSites->setCurrentItem(m_mainSites->topLevelItem(0));
    }
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CookieHistoryDialog::showSitesOf(const QString& site) {
    m_otherSites->clear();
    const auto found = m_sites.find(site.toStdString());
    if (found == m_sites.end()) {
        return;
    }
    for (const std::string& other : found->second) {
        m_otherSites->addTopLevelItem(siteRow(other));
    }
}

}  // namespace perchlight
