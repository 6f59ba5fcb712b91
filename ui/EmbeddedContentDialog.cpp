#include "ui/EmbeddedContentDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/DialogSupport.h"
#include "ui/PolicySourceDialog.h"
#include "ui/WebHost.h"

namespace perchlight {
namespace {

constexpr int kStateRole = Qt::UserRole;
constexpr int kRowRole = Qt::UserRole + 1;
constexpr int kColumnCount = 4;

const char* const kExplanation =
    "The images and/or other content embedded in this web page are listed below. Some of this "
    "content may be covered by a different privacy policy than the rest of the page. Select a "
    "URL to view the privacy information related to that content.";

QString stateText(int state) {
    switch (state) {
        case kStateNoConflict:
            return QStringLiteral("Matched");
        case kStateConflict:
            return QStringLiteral("UnMatched");
        default:
            return QStringLiteral("Unknown");
    }
}

bool offersPolicy(int state) {
    return state == kStateNoConflict || state == kStateConflict;
}

QPushButton* button(const QString& text, int id, QWidget* parent) {
    auto* made = new QPushButton(text, parent);
    made->setObjectName(QStringLiteral("button%1").arg(id));
    made->setAutoDefault(false);
    return made;
}

}  // namespace

EmbeddedContentDialog::EmbeddedContentDialog(EmbeddedContentSnapshot snapshot, PolicyCache& cache,
                                             AddressOpener opener, QWidget* parent)
    : QDialog(parent),
      m_snapshot(std::move(snapshot)),
      m_cache(cache),
      m_opener(std::move(opener)),
      m_directions(kColumnCount, 0) {
    DialogSupport::beepOnHelpKey(*this);
    setObjectName(QStringLiteral("dialog229"));
    setWindowTitle(QStringLiteral("Embedded Content"));
    resize(780, 440);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromLatin1(kExplanation), this);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    layout->addWidget(text);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("list348"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHeaderLabels({QStringLiteral("URL"), QStringLiteral("Privacy Check"),
                             QStringLiteral("Type"), QStringLiteral("Applicable Policy")});
    const int widths[kColumnCount] = {350, 100, 100, 200};
    for (int column = 0; column < kColumnCount; ++column) {
        m_list->setColumnWidth(column, widths[column]);
    }
    m_list->header()->setSectionsMovable(true);
    m_list->header()->setSectionsClickable(true);
    m_list->header()->setSortIndicatorShown(false);
    layout->addWidget(m_list, 1);

    auto* buttons = new QHBoxLayout;
    auto* help = button(QStringLiteral("&Help"), 368, this);
    m_summaryButton = button(QStringLiteral("Policy &Summary"), 32787, this);
    m_sourceButton = button(QStringLiteral("&View P3P Source"), 32797, this);
    auto* close = button(QStringLiteral("Close"), 1, this);
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(m_summaryButton);
    buttons->addWidget(m_sourceButton);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    connect(help, &QPushButton::clicked, this,
            [this] { emit helpRequested(QStringLiteral("embedded.html")); });
    connect(m_summaryButton, &QPushButton::clicked, this,
            &EmbeddedContentDialog::showPolicySummary);
    connect(m_sourceButton, &QPushButton::clicked, this, &EmbeddedContentDialog::viewPolicySource);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            &EmbeddedContentDialog::updateButtons);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (offersPolicy(item->data(0, kStateRole).toInt())) {
            showPolicySummary();
        }
    });
    connect(m_list, &QWidget::customContextMenuRequested, this, &EmbeddedContentDialog::showPopup);
    connect(m_list->header(), &QHeaderView::sectionClicked, this,
            &EmbeddedContentDialog::sortByColumn);
    fillRows();
    updateButtons();
}

void EmbeddedContentDialog::fillRows() {
    const std::vector<EmbeddedContentRow>& rows = m_snapshot.rows();
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const EmbeddedContentRow& row = rows[index];
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, QString::fromStdString(row.url));
        item->setText(1, stateText(row.state));
        item->setText(2, QString::fromStdString(row.contentType));
        item->setText(3, QString::fromStdString(row.policyUrl));
        item->setData(0, kStateRole, row.state);
        item->setData(0, kRowRole, static_cast<int>(index));
    }
}

const EmbeddedContentRow* EmbeddedContentDialog::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) {
        return nullptr;
    }
    const int index = selected.first()->data(0, kRowRole).toInt();
    if (index < 0 || static_cast<std::size_t>(index) >= m_snapshot.rows().size()) {
        return nullptr;
    }
    return &m_snapshot.rows()[static_cast<std::size_t>(index)];
}

void EmbeddedContentDialog::updateButtons() {
    const EmbeddedContentRow* row = selectedRow();
    const bool offered = row != nullptr && offersPolicy(row->state);
    m_summaryButton->setEnabled(offered);
    m_sourceButton->setEnabled(offered);
}

// Each click flips the column's direction; the rows follow the direction held before the flip,
// so the first click sorts ascending and the next one descending.
void EmbeddedContentDialog::sortByColumn(int column) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    const int before = m_directions[static_cast<std::size_t>(column)];
    m_directions[static_cast<std::size_t>(column)] = before == 0 ? 1 : 0;
    const Qt::SortOrder order = before == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_list->sortItems(column, order);
    m_list->header()->setSortIndicatorShown(true);
    m_list->header()->setSortIndicator(column, order);
}

void EmbeddedContentDialog::showPopup(const QPoint& at) {
    const EmbeddedContentRow* row = selectedRow();
    if (row == nullptr || !offersPolicy(row->state)) {
        return;
    }
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("menu230"));
    QAction* summary = menu.addAction(QStringLiteral("Policy &Summary..."));
    summary->setObjectName(QStringLiteral("item32787"));
    QAction* source = menu.addAction(QStringLiteral("&View P3P Source..."));
    source->setObjectName(QStringLiteral("item32797"));
    QPointer<EmbeddedContentDialog> self(this);
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(at));
    if (self == nullptr) {
        return;
    }
    if (chosen == summary) {
        showPolicySummary();
    } else if (chosen == source) {
        viewPolicySource();
    }
}

void EmbeddedContentDialog::showPolicySummary() {
    const EmbeddedContentRow* row = selectedRow();
    if (row == nullptr || !row->result || !offersPolicy(row->result->state)) {
        return;
    }
    QPointer<WebHost> summary = new WebHost(WebHost::kSummaryDialog, m_opener, this);
    summary->showSummary(*row->result);
    DialogSupport::runWindowModal(*summary);
    delete summary;
}

void EmbeddedContentDialog::viewPolicySource() {
    const EmbeddedContentRow* row = selectedRow();
    if (row == nullptr || !offersPolicy(row->state)) {
        return;
    }
    PolicySourceDialog::showCached(m_cache, row->policyUrl, this);
}

}  // namespace perchlight
