// perchlight-browser [URL] [--screenshot FILE] [arguments for the helper modules]

#include <QApplication>

#include <cstdio>
#include <exception>

#include "shell/BrowserShell.h"
#include "shell/BrowserWindow.h"
#include "shell/ModuleLoader.h"
#include "shell/ScreenshotJob.h"
#include "shell/ShellArguments.h"
#include "util/RegistryTree.h"

namespace {

void printError(const QString& message) {
    std::fprintf(stderr, "perchlight-browser: %s\n", message.toLocal8Bit().constData());
}

void initializeModules(const perchlight::ModuleLoader& loader, const QStringList& arguments) {
    for (const auto& loaded : loader.modules()) {
        try {
            loaded.module->initialize(arguments);
        } catch (const std::exception& error) {
            printError(QStringLiteral("helper %1 failed to initialise: %2")
                           .arg(loaded.classId, QString::fromLocal8Bit(error.what())));
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("perchlight-browser"));

    const perchlight::ShellArguments arguments =
        perchlight::ShellArguments::parse(QApplication::arguments().mid(1));
    if (!arguments.error.isEmpty()) {
        printError(arguments.error);
        std::fprintf(stderr,
                     "usage: perchlight-browser [URL] [--screenshot FILE] [module arguments]\n");
        return 64;
    }

    perchlight::RegistryTree registry;
    if (!registry.load(perchlight::RegistryTree::defaultPath())) {
        printError(QStringLiteral("cannot read %1; no helpers loaded")
                       .arg(QString::fromStdString(registry.path())));
    }
    perchlight::ModuleLoader loader;
    loader.load(registry);
    initializeModules(loader, arguments.moduleArguments);

    perchlight::BrowserShell shell(loader.helperModules());
    perchlight::BrowserWindow* window = shell.newWindow();
    if (!arguments.address.isEmpty()) {
        if (window->loadAddress(arguments.address)) {
            window->focusPage();
        } else {
            printError(QStringLiteral("not a loadable address (http, https, file or about:): %1")
                           .arg(arguments.address));
            if (!arguments.screenshotFile.isEmpty()) {
                return 2;
            }
        }
    }
    if (!arguments.screenshotFile.isEmpty()) {
        auto* job = new perchlight::ScreenshotJob(window, arguments.screenshotFile);
        QObject::connect(job, &perchlight::ScreenshotJob::finished,
                         [](int exitCode, const QString& message) {
                             if (!message.isEmpty()) {
                                 printError(message);
                             }
                             QCoreApplication::exit(exitCode);
                         });
    }
    return QApplication::exec();
}
