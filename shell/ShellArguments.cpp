#include "shell/ShellArguments.h"

namespace perchlight {

ShellArguments ShellArguments::parse(const QStringList& arguments) {
    ShellArguments parsed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--screenshot")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                parsed.error = QStringLiteral("--screenshot needs a file name");
                return parsed;
            }
            parsed.screenshotFile = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--screenshot="))) {
            parsed.screenshotFile = argument.mid(13);
            if (parsed.screenshotFile.isEmpty()) {
                parsed.error = QStringLiteral("--screenshot needs a file name");
                return parsed;
            }
        } else if (parsed.address.isEmpty() && !argument.startsWith(QLatin1Char('-')) &&
                   !argument.isEmpty()) {
            parsed.address = argument;
        } else {
            parsed.moduleArguments.append(argument);
        }
    }
    if (!parsed.screenshotFile.isEmpty() && parsed.address.isEmpty()) {
        parsed.error = QStringLiteral("--screenshot needs an address to load");
    }
    return parsed;
}

}  // namespace perchlight
