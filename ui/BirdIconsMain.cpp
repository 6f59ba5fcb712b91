// perchlight_bird_icons OUTDIR SIZE...: writes OUTDIR/bird-NAME-SIZE.png for every frame of the
// bird but the empty bar, at each size, from the bird's own drawing. The build runs it for the
// browser extension's toolbar pictures and the application icon.
#include <QCoreApplication>
#include <QDir>
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
    for (int argument = 2; argument < arguments.size(); ++argument) {
        bool valid = false;
        const int size = arguments[argument].toInt(&valid);
        if (!valid || size < 8 || size > 1024) {
            errors << "perchlight_bird_icons: not a size from 8 to 1024: " << arguments[argument]
                   << "\n";
            return 64;
        }
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
    return 0;
}
