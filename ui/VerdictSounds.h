#pragma once

#include <QObject>
#include <QPointer>
#include <QSoundEffect>
#include <QString>
#include <QUrl>
#include <array>
#include <cstdint>

namespace perchlight {

// The three verdict sounds, loaded once per process. Where no audio device exists they play
// silently, and nothing fails. The players belong to the application object, which must exist:
// a player destroyed after it (as a module's globals are) brings Qt Multimedia down. Any thread:
// playing is queued onto the GUI thread.
class VerdictSounds : public QObject {
    Q_OBJECT

  public:
    enum Sound { kNoPolicy = 0, kNoMatch = 1, kMatch = 2 };

    // The sounds built into the library.
    static const QString kBuiltInFolder;

    // Loads match.wav, nomatch.wav and nopolicy.wav from a folder URL ending in "/".
    explicit VerdictSounds(const QString& folder = kBuiltInFolder, QObject* parent = nullptr);
    ~VerdictSounds() override;

    // Plays the sound of a page verdict (matched 0, unmatched 1, partly matched 2, unknown -1)
    // when the user's "Enable Sounds" bits ask for it.
    void playVerdict(int verdict, std::uint32_t enabledSounds);
    // Plays one sound, whatever the settings say.
    void play(Sound sound);

    // The player of a sound, for tests; null once the application is gone.
    QSoundEffect* player(Sound sound) const { return m_players[sound]; }

  signals:
    // A sound was started (heard only where an audio device exists).
    void started(int sound);

  private:
    std::array<QPointer<QSoundEffect>, 3> m_players;
};

}  // namespace perchlight
