#include "ui/PolicySourceDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QVBoxLayout>
#include <optional>

#include "retrieval/PolicyCache.h"
#include "ui/DialogSupport.h"
#include "ui/ErrorBox.h"
#include "util/Url.h"

namespace perchlight {

PolicySourceDialog::PolicySourceDialog(const QString& address, const QString& source,
                                       QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("dialog220"));
    setWindowTitle(address);
    resize(723, 437);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    m_source = new QPlainTextEdit(this);
    m_source->setObjectName(QStringLiteral("sourceView"));
    m_source->setReadOnly(true);
    m_source->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_source->setPlainText(source);
    layout->addWidget(m_source);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void PolicySourceDialog::showCached(PolicyCache& cache, const std::string& policyUrl,
                                    QWidget* parent) {
    if (policyUrl.empty()) {
        return;
    }
    const std::string document = Url::withoutFragment(policyUrl);
    std::optional<std::string> source;
    if (!ErrorBox::run(parent, [&] { source = cache.readCachedDocument(document); })) {
        return;
    }
    const QString address = QString::fromStdString(policyUrl);
    if (!source) {
        QPointer<QMessageBox> box = new QMessageBox(
            QMessageBox::Critical, QStringLiteral("File Download problem") + address,
            QStringLiteral("File Could not be downloaded"), QMessageBox::Ok, parent);
        box->setObjectName(QStringLiteral("downloadProblemBox"));
        box->setTextFormat(Qt::PlainText);
        DialogSupport::runWindowModal(*box);
        delete box;
        return;
    }
    QPointer<PolicySourceDialog> dialog =
        new PolicySourceDialog(address, QString::fromUtf8(source->data(), source->size()), parent);
    DialogSupport::runWindowModal(*dialog);
    delete dialog;
}

}  // namespace perchlight
