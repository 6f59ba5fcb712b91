#include "shell/FrameFactsScript.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace perchlight {
namespace {

// %1 the report prefix, %2 the element limit, %3 the attribute length limit, %4 the depth limit,
// %5 the name of the mark of a window this script runs in.
constexpr char kSource[] = R"JS(
(function () {
    'use strict';
    var TAGS = { IMG: 1, EMBED: 1, APPLET: 1, OBJECT: 1, LINK: 1, IFRAME: 1, FRAME: 1, BASE: 1 };
    var ATTRIBUTES = ['src', 'codebase', 'code', 'rel', 'href'];
    window.%5 = true;

    // The index of each frame on the way down from the top window; parent.frames[i] compares
    // equal to a frame's window even across origins.
    function framePath() {
        var path = [];
        for (var child = window; child !== child.parent; child = child.parent) {
            var siblings = child.parent.frames, index = -1;
            for (var i = 0; i < siblings.length; ++i) {
                if (siblings[i] === child) {
                    index = i;
                    break;
                }
            }
            path.unshift(index);
        }
        return path;
    }

    function facts(win, path) {
        var elements = [];
        var all = win.document.getElementsByTagName('*');
        for (var i = 0; i < all.length && elements.length < %2; ++i) {
            var tag = String(all[i].tagName).toUpperCase();
            if (!TAGS.hasOwnProperty(tag)) {
                continue;
            }
            var element = { tag: tag };
            for (var a = 0; a < ATTRIBUTES.length; ++a) {
                var value = all[i].getAttribute(ATTRIBUTES[a]);
                element[ATTRIBUTES[a]] = value === null || value.length > %3 ? '' : value;
            }
            elements.push(element);
        }
        return { url: win.document.URL, path: path, frames: win.frames.length, elements: elements };
    }

    // Reports the document of win, then those of its frames in which this script never ran: a
    // frame that loaded no document of its own (about:blank, perhaps written by script). The
    // mark is a property of this isolated world, out of the page's reach.
    function reportDocument(win, path) {
        if (path.length > %4) {
            return;
        }
        console.log('%1' + JSON.stringify(facts(win, path)));
        for (var i = 0; i < win.frames.length; ++i) {
            var silent = false;
            try {
                silent = win.frames[i].%5 !== true;
            } catch (error) {
                // another origin: the frame reports itself
            }
            if (silent) {
                reportDocument(win.frames[i], path.concat([i]));
            }
        }
    }

    function report() {
        reportDocument(window, framePath());
    }

    if (document.readyState === 'complete') {
        report();
    } else {
        window.addEventListener('load', report);
    }
})();
)JS";

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
                             .arg(QStringLiteral("perchlightFactsScript")));
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
