#pragma once

#include <QString>

class QWidget;

namespace perchlight {

// The file choosers of the settings dialogs, behind a seam so that tests can answer them without
// a modal window. The default shows Qt's own dialogs. Returns an empty path when the user cancels.
class FileChooser {
  public:
    virtual ~FileChooser() = default;

    // An existing file to read; defaultSuffix is appended to a name typed without one.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& defaultSuffix);
    // A file to write, proposedName filled in; asks before replacing an existing file.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& proposedName,
                             const QString& filter, const QString& defaultSuffix);
};

}  // namespace perchlight
