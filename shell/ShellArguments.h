#pragma once

#include <QString>
#include <QStringList>

namespace perchlight {

// The shell's command line: perchlight-browser [URL] [--screenshot FILE] [module arguments].
// The first argument that does not begin with "-" is the address; every argument the shell does
// not take goes to the helper modules (whose options should take the "--name=value" form, so that
// their values are not read as the address).
struct ShellArguments {
    QString address;
    QString screenshotFile;  // empty unless --screenshot was given
    QStringList moduleArguments;
    QString error;  // non-empty when the command line cannot be used

    // arguments without the program name
    static ShellArguments parse(const QStringList& arguments);
};

}  // namespace perchlight
