#include "ui/HelpPages.h"

namespace perchlight {

QStringList HelpPages::topics() {
    return {QString::fromLatin1(kIndex),     QStringLiteral("colours.html"),
            QStringLiteral("levels.html"),   QStringLiteral("discovery.html"),
            QStringLiteral("forms.html"),    QStringLiteral("embedded.html"),
            QStringLiteral("settings.html"), QString::fromLatin1(kTour),
            QStringLiteral("privacy.html"),  QStringLiteral("cookies.html")};
}

QUrl HelpPages::topicUrl(const std::string& moduleDirectory, const QString& topic) {
    // Only names of our own pages: a name never leads out of the help folder.
    if (!topics().contains(topic)) {
        return {};
    }
    return QUrl::fromLocalFile(QString::fromStdString(moduleDirectory) + QStringLiteral("/help/") +
                               topic);
}

}  // namespace perchlight
