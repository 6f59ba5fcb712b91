#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "shell/BrowserHelper.h"

class QPluginLoader;

namespace perchlight {

class RegistryTree;

// Loads the helper modules registered for the browser: every class listed under the browser
// helper objects key whose class entry names a module file. Modules stay loaded for the life of
// the process. GUI thread only.
class ModuleLoader {
  public:
    static constexpr const char* kHelperObjectsKey =
        "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects";

    struct Module {
        QString classId;
        QString path;
        HelperModule* module;  // owned by its plugin loader
        QObject* instance;     // the same object as the plugin's root object
    };

    ModuleLoader();
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    // Loads the modules the tree registers, in class order; each that cannot be loaded (no
    // module file named, a relative path, not a helper module, a load error) is reported on
    // stderr and skipped. A file named by several classes is loaded once.
    void load(const RegistryTree& registry);
    const std::vector<Module>& modules() const { return m_modules; }
    std::vector<HelperModule*> helperModules() const;

  private:
    std::vector<std::unique_ptr<QPluginLoader>> m_loaders;
    std::vector<Module> m_modules;
};

}  // namespace perchlight
