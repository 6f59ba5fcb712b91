// perchlight_bird_icons OUTDIR SIZE...: writes OUTDIR/bird-NAME-SIZE.png for every frame of the
// bird but the empty bar, at each size, from the bird's own drawing. The build runs it for the
// browser extension's toolbar pictures and the application icon. OUTDIR/birds.json names the
// icon of each frame number in order ("" for the empty bar) and the sizes written, so that the
// extension maps the host's frame numbers to files without a table of its own.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include "ui/BirdFrames.h"

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    QTextStream errors(stderr);
    if (arguments.size() < 3) {
        errors << "usage: perchlight_bird_icons OUTDIR SIZE...\n";
        return 64;
    }
    const QDir directory(arguments[1]);
    if (!QDir().mkpath(directory.path())) {
        errors << "perchlight_bird_icons: cannot create " << directory.path() << "\n";
        return 1;
    }
    QJsonArray sizes;
    for (int argument = 2; argument < arguments.size(); ++argument) {
        bool valid = false;
        const int size = arguments[argument].toInt(&valid);
        if (!valid || size < 8 || size > 1024) {
            errors << "perchlight_bird_icons: not a size from 8 to 1024: " << arguments[argument]
                   << "\n";
            return 64;
        }
        sizes.append(size);
        for (int index = 0; index < perchlight::BirdFrames::kCount; ++index) {
            const QString name = perchlight::BirdFrames::iconName(index);
            if (name.isEmpty()) {
                continue;
            }
            const QString file =
                directory.filePath(QStringLiteral("bird-%1-%2.png").arg(name).arg(size));
            if (!perchlight::BirdFrames::icon(index, size).save(file, "PNG")) {
                errors << "perchlight_bird_icons: cannot write " << file << "\n";
                return 1;
            }
        }
    }
    QJsonArray frames;
    for (int index = 0; index < perchlight::BirdFrames::kCount; ++index) {
        frames.append(perchlight::BirdFrames::iconName(index));
    }
    QFile index(directory.filePath(QStringLiteral("birds.json")));
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("frames"), frames},
                                                      {QStringLiteral("sizes"), sizes}})
                                .toJson(QJsonDocument::Compact);
    if (!index.open(QIODevice::WriteOnly) || index.write(json) != json.size()) {
        errors << "perchlight_bird_icons: cannot write " << index.fileName() << "\n";
        return 1;
    }
    return 0;
}
