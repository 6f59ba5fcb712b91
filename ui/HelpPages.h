#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <string>

namespace perchlight {

// The help pages shipped in the "help" folder of the module directory: plain HTML, no script.
// Opening one is the agent's: a new browser window shows the address.
class HelpPages {
  public:
    // The contents page, which links to every topic.
    static constexpr const char* kIndex = "index.html";
    // The guided tour (the menu's "&Tour").
    static constexpr const char* kTour = "tour.html";

    // Every topic page, the contents first.
    static QStringList topics();
    // The file address of a topic; empty for a name that is not one of the topics.
    static QUrl topicUrl(const std::string& moduleDirectory, const QString& topic);
};

}  // namespace perchlight
