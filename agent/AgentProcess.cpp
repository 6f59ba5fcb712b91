#include "agent/AgentProcess.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cstdio>

#include "agent/P3PObject.h"
#include "prefs/BirdBroadcast.h"
#include "prefs/RegistryKey.h"
#include "prefs/WorkArea.h"
#include "ui/LocalBroadcast.h"
#include "ui/VerdictSounds.h"
#include "util/Error.h"

namespace perchlight {
namespace {

template <typename Step>
void reportFailure(const char* what, Step step) {
    try {
        step();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchlight: %s: %s\n", what, error.what());
    }
}

// The primary screen's desktop without its panels, in the right-exclusive form of the stored
// work area.
WorkArea workAreaOf(const QScreen& screen) {
    const QRect area = screen.availableGeometry();
    return {area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
}

}  // namespace

AgentProcess::AgentProcess(DataLocations locations, bool cookieCommands)
    : m_services(std::make_unique<AgentServices>(std::move(locations))),
      m_cookieCommands(cookieCommands) {
    // The bird's stored position is kept on the screen as it is, not on a screen of fixed size.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        m_services->preferences().setWorkArea(workAreaOf(*screen));
        connect(screen, &QScreen::availableGeometryChanged, this,
                [this, screen] { m_services->preferences().setWorkArea(workAreaOf(*screen)); });
    }
    reportFailure("loading the preferences",
                  [this] { m_services->preferences().loadPreferences(); });
    // The settings key is made before the first save, so that saving a setting in the browser
    // works without a separate installer step; an existing key is left as it is.
    RegistryKey::create(RegistryKey::kPerchlightKey);
    m_broadcast = new LocalBroadcast(LocalBroadcast::defaultFolder(), this);
    m_broadcast->listen();
    m_services->preferences().setBroadcast(m_broadcast);
    // The sounds belong to the application: they must outlive this module's own objects.
    m_sounds = new VerdictSounds(VerdictSounds::kBuiltInFolder, QCoreApplication::instance());
    connect(m_broadcast, &LocalBroadcast::commandReceived, this, &AgentProcess::onBroadcast);
}

AgentProcess::~AgentProcess() {
    m_services->preferences().setBroadcast(nullptr);
}

void AgentProcess::add(P3PObject* helper) {
    if (!m_indexLoaded) {
        reportFailure("loading the cache index", [this] { m_services->cache().loadCacheIndex(); });
        m_indexLoaded = true;
    }
    m_helpers.push_back(helper);
}

void AgentProcess::remove(P3PObject* helper) {
    m_helpers.erase(std::remove(m_helpers.begin(), m_helpers.end(), helper), m_helpers.end());
    if (m_helpers.empty()) {
        saveOnLastWindow();
    }
}

void AgentProcess::saveOnLastWindow() {
    reportFailure("saving the cookie history",
                  [this] { m_services->preferences().writeCookieHistory(); });
    reportFailure("saving the cache index", [this] { m_services->cache().writeCacheIndex(); });
}

void AgentProcess::onBroadcast(int command) {
    P3PPreferences& preferences = m_services->preferences();
    const std::string& directory = m_services->locations().userDirectory();
    reportFailure("applying a broadcast", [&] {
        switch (command) {
            case kBroadcastReloadSettingsAndRuleSet:
                preferences.loadSettings();
                preferences.activeRuleSetPath(true);
                break;
            case kBroadcastReloadCookiePreferences:
                preferences.readCookiePreferences(directory +
                                                  P3PPreferences::kCookiePreferencesFile);
                break;
            case kBroadcastReloadSettings:
                preferences.loadSettings();
                break;
            case kBroadcastReloadNoPromptSites:
                preferences.loadNoPromptList(directory + P3PPreferences::kNoPromptSitesFile);
                break;
            default:
                break;
        }
    });
    for (P3PObject* helper : m_helpers) {
        helper->runBirdCommand(command);
    }
}

}  // namespace perchlight
