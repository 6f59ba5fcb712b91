#include "ui/FormWarningDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "browser/FormCheck.h"
#include "ui/DialogSupport.h"
#include "ui/WebHost.h"

namespace perchlight {
namespace {

QPushButton* button(const QString& text, int id, QWidget* parent) {
    auto* made = new QPushButton(text, parent);
    made->setObjectName(QStringLiteral("button%1").arg(id));
    return made;
}

}  // namespace

FormWarningDialog::FormWarningDialog(std::optional<MatchResult> result, bool anySite,
                                     AddressOpener opener, QWidget* parent)
    : QDialog(parent), m_result(std::move(result)), m_opener(std::move(opener)) {
    setObjectName(QStringLiteral("dialog241"));
    setWindowTitle(QStringLiteral("Warning"));
    auto* layout = new QVBoxLayout(this);

    m_message = new QLabel(m_result ? QString::fromUtf8(FormCheck::kNoMatchMessage.data(),
                                                        FormCheck::kNoMatchMessage.size())
                                    : QString::fromUtf8(FormCheck::kNoPolicyMessage.data(),
                                                        FormCheck::kNoPolicyMessage.size()),
                           this);
    m_message->setObjectName(QStringLiteral("static377"));
    m_message->setTextFormat(Qt::PlainText);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    font.setItalic(true);
    m_message->setFont(font);
    layout->addWidget(m_message);

    auto* question =
        new QLabel(QStringLiteral("Would you like to continue submitting this form?"), this);
    question->setTextFormat(Qt::PlainText);
    layout->addWidget(question);

    m_thisSite =
        new QCheckBox(QStringLiteral("&Do not warn me about forms on this site again"), this);
    m_thisSite->setObjectName(QStringLiteral("check351"));
    m_anySite = new QCheckBox(QStringLiteral("Do not warn me about forms on &any site"), this);
    m_anySite->setObjectName(QStringLiteral("check352"));
    m_anySite->setChecked(anySite);
    layout->addWidget(m_thisSite);
    layout->addWidget(m_anySite);

    auto* buttons = new QHBoxLayout;
    auto* moreInfo = button(QStringLiteral("&More Info"), 3, this);
    moreInfo->setAutoDefault(false);
    moreInfo->setVisible(m_result.has_value());
    auto* yes = button(QStringLiteral("&Yes"), 1, this);
    yes->setAutoDefault(false);
    auto* no = button(QStringLiteral("&No"), 2, this);
    no->setDefault(true);
    buttons->addWidget(moreInfo);
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    layout->addLayout(buttons);

    connect(moreInfo, &QPushButton::clicked, this, &FormWarningDialog::showMoreInfo);
    connect(yes, &QPushButton::clicked, this, [this] { done(kYes); });
    connect(no, &QPushButton::clicked, this, [this] { done(kNo); });
    no->setFocus();
}

bool FormWarningDialog::thisSite() const {
    return m_thisSite->isChecked();
}

bool FormWarningDialog::anySite() const {
    return m_anySite->isChecked();
}

QString FormWarningDialog::message() const {
    return m_message->text();
}

void FormWarningDialog::showMoreInfo() {
    if (!m_result) {
        return;
    }
    // The browser's request waits for this question: the browser cannot load a page until it
    // is answered, so the summary is drawn as text.
    QPointer<WebHost> summary =
        new WebHost(WebHost::kSummaryDialog, m_opener, this, WebHost::Renderer::Text);
    summary->showSummary(*m_result);
    DialogSupport::runWindowModal(*summary);
    delete summary;
}

}  // namespace perchlight
