#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "prefs/P3PPreferences.h"
#include "ui/VerdictSounds.h"

namespace perchlight {

class VerdictSoundsTest : public QObject {
    Q_OBJECT

  private slots:
    // 22,050 Hz mono 16-bit PCM, a fraction of a second long.
    void builtInSounds_areShortMonoWaves_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("match") << "match.wav";
        QTest::newRow("no match") << "nomatch.wav";
        QTest::newRow("no policy") << "nopolicy.wav";
    }

    void builtInSounds_areShortMonoWaves() {
        QFETCH(QString, name);
        VerdictSounds sounds;  // makes the resources known
        QFile file(":/perchlight/sounds/" + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wave = file.readAll();
        QVERIFY(wave.size() > 44);
        QCOMPARE(wave.mid(0, 4), QByteArray("RIFF"));
        QCOMPARE(wave.mid(8, 8), QByteArray("WAVEfmt "));
        auto number = [&](int at, int size) {
            quint32 value = 0;
            for (int i = size - 1; i >= 0; --i) {
                value = value << 8 | quint8(wave[at + i]);
            }
            return value;
        };
        QCOMPARE(number(20, 2), 1u);      // PCM
        QCOMPARE(number(22, 2), 1u);      // one channel
        QCOMPARE(number(24, 4), 22050u);  // samples per second
        QCOMPARE(number(34, 2), 16u);     // bits per sample
        const double seconds = number(40, 4) / 2.0 / 22050;
        QVERIFY2(seconds >= 0.2 && seconds <= 0.5, qPrintable(QString::number(seconds)));
    }

    // Without an audio device the players still load and play, silently.
    void players_loadAndPlayWithoutFailing() {
        VerdictSounds sounds;
        for (const auto sound :
             {VerdictSounds::kNoPolicy, VerdictSounds::kNoMatch, VerdictSounds::kMatch}) {
            QSoundEffect* player = sounds.player(sound);
            QVERIFY(player != nullptr);
            QCOMPARE(player->parent(), QCoreApplication::instance());
            QTRY_VERIFY(player->status() != QSoundEffect::Loading);
            QCOMPARE(player->status(), QSoundEffect::Ready);
            sounds.play(sound);
        }
        QCoreApplication::processEvents();
    }

    void playVerdict_followsTheEnabledBits_data() {
        QTest::addColumn<int>("verdict");
        QTest::addColumn<uint>("bits");
        QTest::addColumn<int>("played");  // -1: none
        QTest::newRow("matched, on")
            << 0 << uint(kSoundMatchedPolicy) << int(VerdictSounds::kMatch);
        QTest::newRow("partly matched, on")
            << 2 << uint(kSoundMatchedPolicy) << int(VerdictSounds::kMatch);
        QTest::newRow("unmatched, on")
            << 1 << uint(kSoundUnmatchedPolicy) << int(VerdictSounds::kNoMatch);
        QTest::newRow("unknown, on")
            << -1 << uint(kSoundUnknownPolicy) << int(VerdictSounds::kNoPolicy);
        QTest::newRow("matched, others on")
            << 0 << uint(kSoundUnmatchedPolicy | kSoundUnknownPolicy) << -1;
        QTest::newRow("unmatched, all off") << 1 << 0u << -1;
        QTest::newRow("unknown, cache bit only") << -1 << uint(kSoundFromCache) << -1;
    }

    void playVerdict_followsTheEnabledBits() {
        QFETCH(int, verdict);
        QFETCH(uint, bits);
        QFETCH(int, played);
        VerdictSounds sounds;
        QSignalSpy started(&sounds, &VerdictSounds::started);
        sounds.playVerdict(verdict, bits);
        QCoreApplication::processEvents();
        if (played < 0) {
            QCOMPARE(started.count(), 0);
        } else {
            QCOMPARE(started.count(), 1);
            QCOMPARE(started.at(0).at(0).toInt(), played);
        }
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::VerdictSoundsTest)
#include "VerdictSoundsTest.moc"
