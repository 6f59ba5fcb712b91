#include "shell/ModuleLoader.h"

#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#include <algorithm>
#include <cstdio>

#include "util/RegistryTree.h"

namespace perchlight {
namespace {

void reportSkipped(const QString& classId, const QString& reason) {
    std::fprintf(stderr, "perchlight-browser: helper %s not loaded: %s\n",
                 classId.toLocal8Bit().constData(), reason.toLocal8Bit().constData());
}

}  // namespace

ModuleLoader::ModuleLoader() = default;
ModuleLoader::~ModuleLoader() = default;  // QPluginLoader's destructor leaves the module loaded

void ModuleLoader::load(const RegistryTree& registry) {
    for (const std::string& id : registry.subkeys(kHelperObjectsKey)) {
        const QString classId = QString::fromStdString(id);
        const std::optional<std::string> path =
            registry.value("HKCR\\CLSID\\" + id + "\\InprocServer32", "@");
        if (!path || path->empty()) {
            reportSkipped(classId, QStringLiteral("no module file registered for the class"));
            continue;
        }
        const QString file = QString::fromStdString(*path);
        // Only a full path: a bare name would be looked for in the library search paths.
        if (!QDir::isAbsolutePath(file)) {
            reportSkipped(classId, file + QStringLiteral(": not an absolute path"));
            continue;
        }
        const QString canonical = QFileInfo(file).canonicalFilePath();
        if (std::any_of(m_modules.begin(), m_modules.end(),
                        [&](const Module& loaded) { return loaded.path == canonical; })) {
            continue;
        }
        auto loader = std::make_unique<QPluginLoader>(file);
        QObject* instance = loader->instance();
        HelperModule* module = qobject_cast<HelperModule*>(instance);
        if (module == nullptr) {
            reportSkipped(classId, instance == nullptr
                                       ? loader->errorString()
                                       : file + QStringLiteral(": not a browser helper module"));
            continue;
        }
        m_modules.push_back({classId, canonical, module, instance});
        m_loaders.push_back(std::move(loader));
    }
}

std::vector<HelperModule*> ModuleLoader::helperModules() const {
    std::vector<HelperModule*> modules;
    for (const Module& loaded : m_modules) {
        modules.push_back(loaded.module);
    }
    return modules;
}

}  // namespace perchlight
