#include "ui/FileChooser.h"

#include <QFileDialog>
#include <QStringList>

#include "ui/DialogSupport.h"

namespace perchlight {
namespace {

QString chooseFile(QFileDialog& dialog) {
    if (DialogSupport::runWindowModal(dialog) != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace

QString FileChooser::openFile(QWidget* parent, const QString& title, const QString& filter,
                              const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultSuffix);
    return chooseFile(dialog);
}

QString FileChooser::saveFile(QWidget* parent, const QString& title, const QString& proposedName,
                              const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(proposedName);
    return chooseFile(dialog);
}

}  // namespace perchlight
