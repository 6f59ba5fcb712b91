#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "browser/AgentServices.h"

namespace perchlight {

class LocalBroadcast;
class P3PObject;
class VerdictSounds;

// What the agent keeps once per browser process: the services over the module directory, the
// broadcast between processes, the verdict sounds and the list of window helpers (Qt has one GUI
// thread for all windows, so the helpers of a process are simply listed). GUI thread only.
class AgentProcess : public QObject {
    Q_OBJECT

  public:
    // Loads the preference store once, swallowing its errors: a damaged settings file leaves the
    // defaults and must not keep the browser from starting.
    // cookieCommands: the bird shows the fuller menu with the cookie commands.
    AgentProcess(DataLocations locations, bool cookieCommands);
    ~AgentProcess() override;

    AgentServices& services() { return *m_services; }
    LocalBroadcast& broadcast() { return *m_broadcast; }
    VerdictSounds& sounds() { return *m_sounds; }

    // A window's helper comes and goes. The first loads the cache index; when the last goes, the
    // cookie history and the cache index are saved (each save's failure is reported, not raised).
    void add(P3PObject* helper);
    void remove(P3PObject* helper);
    const std::vector<P3PObject*>& helpers() const { return m_helpers; }
    bool cookieCommands() const { return m_cookieCommands; }

  private:
    void onBroadcast(int command);
    void saveOnLastWindow();

    std::unique_ptr<AgentServices> m_services;
    LocalBroadcast* m_broadcast = nullptr;  // owned by this object
    VerdictSounds* m_sounds = nullptr;      // owned by the application (see VerdictSounds)
    std::vector<P3PObject*> m_helpers;
    bool m_indexLoaded = false;
    bool m_cookieCommands = false;
};

}  // namespace perchlight
