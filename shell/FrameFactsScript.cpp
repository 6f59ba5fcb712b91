#include "shell/FrameFactsScript.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace perchlight {
namespace {

// The DOM walk is extension/src/frame-facts.js, shared with the browser extension; here it
// reports each document as a console line. %1 the report prefix, %2 the element limit, %3 the
// attribute length limit, %4 the depth limit, %5 the name of the mark of a window this script
// runs in, %6 the walk's text.
constexpr char kSource[] = R"JS(
(function () {
%6
perchlightFrameFacts({
    report: function (facts) { console.log('%1' + JSON.stringify(facts)); },
    maxElements: %2, maxAttributeLength: %3, maxFrameDepth: %4, mark: '%5'
});
})();
)JS";

QString walkSource() {
    QFile file(QStringLiteral(":/perchlight/shell/frame-facts.js"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::string stringField(const QJsonObject& object, const char* name) {
    const QString value = object.value(QLatin1String(name)).toString();
    return value.size() > FrameFactsScript::kMaxAttributeLength ? std::string()
                                                                : value.toStdString();
}

std::optional<std::vector<int>> framePath(const QJsonValue& value) {
    if (!value.isArray() || value.toArray().size() > FrameFactsScript::kMaxFrameDepth) {
        return std::nullopt;
    }
    std::vector<int> path;
    for (const QJsonValue& index : value.toArray()) {
        const int number = index.toInt(-1);
        if (number < 0) {
            return std::nullopt;
        }
        path.push_back(number);
    }
    return path;
}

}  // namespace

const QString& FrameFactsScript::prefix() {
    static const QString value = [] {
        QRandomGenerator* random = QRandomGenerator::system();
        return QStringLiteral("perchlight-facts-%1%2:")
            .arg(random->generate64(), 16, 16, QLatin1Char('0'))
            .arg(random->generate64(), 16, 16, QLatin1Char('0'));
    }();
    return value;
}

QWebEngineScript FrameFactsScript::script() {
    QWebEngineScript script;
    script.setName(QStringLiteral("perchlight-frame-facts"));
    script.setSourceCode(QString::fromUtf8(kSource)
                             .arg(prefix())
                             .arg(kMaxElements)
                             .arg(kMaxAttributeLength)
                             .arg(kMaxFrameDepth)
                             .arg(QStringLiteral("perchlightFactsScript"))
                             .arg(walkSource()));
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(true);
    return script;
}

std::optional<DocumentFacts> FrameFactsScript::parseReport(const QString& consoleMessage) {
    if (!consoleMessage.startsWith(prefix())) {
        return std::nullopt;
    }
    const QJsonDocument json =
        QJsonDocument::fromJson(QStringView(consoleMessage).mid(prefix().size()).toUtf8());
    const QJsonObject object = json.object();
    const std::optional<std::vector<int>> path = framePath(object.value(QLatin1String("path")));
    const QJsonArray elements = object.value(QLatin1String("elements")).toArray();
    const int childFrames = object.value(QLatin1String("frames")).toInt(-1);
    if (!json.isObject() || !path || childFrames < 0 || elements.size() > kMaxElements) {
        return std::nullopt;
    }
    DocumentFacts facts{stringField(object, "url"), *path, childFrames, {}};
    for (const QJsonValue& value : elements) {
        const QJsonObject element = value.toObject();
        facts.elements.push_back({stringField(element, "tag"), stringField(element, "src"),
                                  stringField(element, "codebase"), stringField(element, "code"),
                                  stringField(element, "rel"), stringField(element, "href")});
    }
    return facts;
}

}  // namespace perchlight
