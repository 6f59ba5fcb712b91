#include "ui/CookieOverrideListDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "prefs/P3PPreferences.h"

namespace perchlight {
namespace {

QString overrideText(std::int32_t value) {
    switch (value) {
        case kOverrideAlwaysAllow:
            return "Always allow";
        case kOverrideThisSession:
            return "Allow for this session only";
        case kOverrideNeverAllow:
            return "Never Allow";
        default:
            return {};
    }
}

}  // namespace

CookieOverrideListDialog::CookieOverrideListDialog(P3PPreferences& preferences,
                                                   BirdBroadcast* broadcast, QWidget* parent)
    : QDialog(parent), m_preferences(preferences), m_broadcast(broadcast) {
    setWindowTitle("Cookie Override Site List");
    m_list = new QTreeWidget;
    m_list->setObjectName("list374");
    m_list->setHeaderLabels({"Web Site", "Cookie Preference"});
    m_list->setColumnWidth(0, 300);
    m_list->setColumnWidth(1, 200);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setMinimumWidth(520);
    for (const auto& [site, value] : preferences.cookiePreferences().siteOverrides) {
        auto* row =
            new QTreeWidgetItem(QStringList{QString::fromStdString(site), overrideText(value)});
        row->setData(1, Qt::UserRole, value);  // the override this row stands for
        m_list->addTopLevelItem(row);
    }
    m_delete = new QPushButton("&Delete");
    DialogSupport::name(m_delete, kDeleteButton);
    m_delete->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_delete);
    QPushButton* ok = DialogSupport::addOkCancel(*this, *buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_delete->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_delete, &QPushButton::clicked, this, &CookieOverrideListDialog::deleteSelected);
    connect(ok, &QPushButton::clicked, this, &CookieOverrideListDialog::confirm);
}

void CookieOverrideListDialog::deleteSelected() {
    for (QTreeWidgetItem* row : m_list->selectedItems()) {
        m_deleted << row->text(0);
        delete row;
    }
    m_delete->setEnabled(!m_list->selectedItems().isEmpty());
}

void CookieOverrideListDialog::confirm() {
    const bool written = DialogSupport::changeCookiePreferences(
        m_preferences, m_broadcast, this, [this](CookiePreferences& cookies) {
            bool changed = false;
            for (const QString& site : m_deleted) {
                changed = cookies.siteOverrides.erase(site.toStdString()) > 0 || changed;
            }
            return changed;
        });
    if (written) {
        accept();
    }
}

}  // namespace perchlight
