#include "ui/AboutDialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/BirdFrames.h"

namespace perchlight {
namespace {

const char* const kCredits =
    "Perchlight reads the P3P privacy policies that web sites publish and compares them with "
    "the privacy preferences you choose. The bird on your browser window shows the result for "
    "every page.\n\n"
    "Written by the Perchlight developers, with the bird's pictures and sounds made for it.\n"
    "Built on Qt, libcurl, Expat and Gumbo, each under its own licence.";

}  // namespace

// A caption and no close button: the box closes with its own button only.
AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("dialog217"));
    setWindowTitle(QStringLiteral("About Perchlight"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* title = new QLabel(QStringLiteral("Perchlight"), this);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.5);
    title->setFont(font);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    auto* bird = new QLabel(this);
    bird->setPixmap(QPixmap::fromImage(BirdFrames::frame(BirdFrames::kMatched)));
    bird->setAlignment(Qt::AlignHCenter);
    layout->addWidget(bird);
    auto* credits = new QLabel(QString::fromLatin1(kCredits), this);
    credits->setObjectName(QStringLiteral("credits"));
    credits->setTextFormat(Qt::PlainText);
    credits->setWordWrap(true);
    credits->setFixedWidth(300);
    layout->addWidget(credits);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
}

void AboutDialog::closeEvent(QCloseEvent* event) {
    if (result() == 1) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace perchlight
