#include "ui/VerdictSounds.h"

#include <QCoreApplication>
#include <QSoundEffect>

#include "prefs/P3PPreferences.h"

// The sounds live in the static library's resources, which register themselves only when
// something names them. Outside the namespace, as the resource macro needs.
static void loadSoundResources() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(perchlight_sounds);
        return true;
    }();
    (void)loaded;
}

namespace perchlight {
namespace {

constexpr const char* kFiles[] = {"nopolicy.wav", "nomatch.wav", "match.wav"};

}  // namespace

const QString VerdictSounds::kBuiltInFolder = QStringLiteral("qrc:/perchlight/sounds/");

VerdictSounds::VerdictSounds(const QString& folder, QObject* parent) : QObject(parent) {
    loadSoundResources();
    for (int sound = kNoPolicy; sound <= kMatch; ++sound) {
        auto* player = new QSoundEffect(QCoreApplication::instance());
        player->setSource(QUrl(folder + QString::fromLatin1(kFiles[sound])));
        m_players[sound] = player;
    }
}

VerdictSounds::~VerdictSounds() {
    for (const QPointer<QSoundEffect>& player : m_players) {
        if (player != nullptr) {
            player->deleteLater();  // by the application's own loop, never from a module's exit
        }
    }
}

void VerdictSounds::playVerdict(int verdict, std::uint32_t enabledSounds) {
    switch (verdict) {
        case 0:
        case 2:
            if (enabledSounds & kSoundMatchedPolicy) {
                play(kMatch);
            }
            break;
        case 1:
            if (enabledSounds & kSoundUnmatchedPolicy) {
                play(kNoMatch);
            }
            break;
        default:
            if (enabledSounds & kSoundUnknownPolicy) {
                play(kNoPolicy);
            }
            break;
    }
}

void VerdictSounds::play(Sound sound) {
    QMetaObject::invokeMethod(
        this,
        [this, sound] {
            if (QSoundEffect* player = m_players[sound]) {
                player->play();
                emit started(sound);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace perchlight
