#include <QSet>
#include <QTest>

#include "ui/BirdFrames.h"

namespace perchlight {
namespace {

enum class Hue { Green, Yellow, Red };

// Pixels of a frame that are clearly of one colour, as the eye would name it.
int count(const QImage& frame, Hue hue, QRect area = QRect(0, 0, 100, 18)) {
    int pixels = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = frame.pixelColor(x, y).toHsv();
            if (colour.hsvSaturationF() < 0.5 || colour.valueF() < 0.35) {
                continue;
            }
            const int h = colour.hsvHue();
            const bool match = (hue == Hue::Green && h >= 90 && h <= 150) ||
                               (hue == Hue::Yellow && h >= 42 && h <= 60) ||
                               (hue == Hue::Red && (h <= 10 || h >= 345));
            pixels += match ? 1 : 0;
        }
    }
    return pixels;
}

int darkPixels(const QImage& frame, QRect area) {
    int pixels = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            pixels += frame.pixelColor(x, y).lightness() < 70 ? 1 : 0;
        }
    }
    return pixels;
}

const QRect kMarkArea(25, 2, 16, 15);  // left of the bird, inside the rim

}  // namespace

class BirdFramesTest : public QObject {
    Q_OBJECT

  private slots:
    void strip_isDrawnOnce() {
        const QImage& strip = BirdFrames::strip();
        QCOMPARE(strip.size(), QSize(1400, 18));
        QCOMPARE(&BirdFrames::strip(), &strip);
        QCOMPARE(BirdFrames::frame(6), strip.copy(600, 0, 100, 18));
    }

    // Transparent: two pixels at each end of the outer rows, one at each end of the next rows.
    void shape_hasRoundedCorners() {
        const QImage& shape = BirdFrames::shape();
        QCOMPARE(shape.size(), QSize(100, 18));
        QList<QPoint> transparent;
        for (int y = 0; y < 18; ++y) {
            for (int x = 0; x < 100; ++x) {
                if (shape.pixel(x, y) == BirdFrames::kTransparent) {
                    transparent << QPoint(x, y);
                }
            }
        }
        QCOMPARE(transparent, (QList<QPoint>{{0, 0},
                                             {1, 0},
                                             {98, 0},
                                             {99, 0},
                                             {0, 1},
                                             {99, 1},
                                             {0, 16},
                                             {99, 16},
                                             {0, 17},
                                             {1, 17},
                                             {98, 17},
                                             {99, 17}}));
    }

    // Each verdict's bird wears its own colour and no other verdict's.
    void frames_showTheVerdictColours_data() {
        QTest::addColumn<int>("frame");
        QTest::addColumn<int>("colour");  // -1: no coloured bird
        QTest::addColumn<bool>("redMark");
        QTest::newRow("matched") << 0 << int(Hue::Green) << false;
        QTest::newRow("partly matched") << 1 << int(Hue::Green) << true;
        QTest::newRow("matched, cookie blocked") << 2 << int(Hue::Green) << true;
        QTest::newRow("partly matched, cookie blocked") << 3 << int(Hue::Green) << true;
        QTest::newRow("unknown") << 4 << int(Hue::Yellow) << false;
        QTest::newRow("unknown, cookie blocked") << 5 << int(Hue::Yellow) << false;
        QTest::newRow("unmatched") << 6 << int(Hue::Red) << true;
        QTest::newRow("unmatched, cookie blocked") << 7 << int(Hue::Red) << true;
        QTest::newRow("sleeping") << 8 << -1 << false;
        QTest::newRow("empty bar") << 9 << -1 << false;
        for (int flap = 10; flap <= 13; ++flap) {
            QTest::newRow(qPrintable(QString("flapping %1").arg(flap)))
                << flap << int(Hue::Yellow) << false;
        }
    }

    void frames_showTheVerdictColours() {
        QFETCH(int, frame);
        QFETCH(int, colour);
        QFETCH(bool, redMark);
        const QImage image = BirdFrames::frame(frame);
        for (const Hue hue : {Hue::Green, Hue::Yellow, Hue::Red}) {
            const int pixels = count(image, hue, QRect(44, 0, 56, 18));  // the bird
            if (int(hue) == colour) {
                QVERIFY2(pixels >= 50, qPrintable(QString::number(pixels)));
            } else {
                QVERIFY2(pixels <= 2, qPrintable(QString::number(pixels)));
            }
        }
        QCOMPARE(count(image, Hue::Red, kMarkArea) >= 4, redMark);
    }

    // The sleeping bird is there, only grey; the empty bar holds nothing but the bar.
    void frames_sleepingBirdAndEmptyBar() {
        const QImage sleeping = BirdFrames::frame(BirdFrames::kSleeping);
        const QImage empty = BirdFrames::frame(BirdFrames::kEmptyBar);
        int birdPixels = 0;
        for (int y = 0; y < 18; ++y) {
            for (int x = 0; x < 100; ++x) {
                birdPixels += sleeping.pixel(x, y) != empty.pixel(x, y) ? 1 : 0;
            }
        }
        QVERIFY2(birdPixels >= 60, qPrintable(QString::number(birdPixels)));
        QCOMPARE(darkPixels(empty, QRect(2, 2, 96, 14)), 0);
        QCOMPARE(darkPixels(sleeping, kMarkArea), 0);  // no mark
    }

    // The wing beats through four different pictures; the question mark blinks black, yellow.
    void frames_flapping() {
        for (int a = BirdFrames::kFirstFlap; a <= BirdFrames::kLastFlap; ++a) {
            for (int b = a + 1; b <= BirdFrames::kLastFlap; ++b) {
                QVERIFY(BirdFrames::frame(a) != BirdFrames::frame(b));
            }
        }
        QVERIFY(darkPixels(BirdFrames::frame(10), kMarkArea) >= 10);
        QVERIFY(darkPixels(BirdFrames::frame(12), kMarkArea) >= 10);
        QVERIFY(count(BirdFrames::frame(11), Hue::Yellow, kMarkArea) >= 10);
        QVERIFY(count(BirdFrames::frame(13), Hue::Yellow, kMarkArea) >= 10);
    }

    // Icons: the frame's bird and mark on a transparent square, no bar, at any size; every frame
    // but the empty bar has one.
    void icons_drawTheFramesWithoutTheBar() {
        for (const int size : {16, 128}) {
            const QImage matched = BirdFrames::icon(BirdFrames::kMatched, size);
            const QImage unmatched = BirdFrames::icon(BirdFrames::kUnmatched, size);
            QCOMPARE(matched.size(), QSize(size, size));
            QCOMPARE(qAlpha(matched.pixel(0, size - 1)), 0);
            QCOMPARE(qAlpha(matched.pixel(size - 1, 0)), 0);
            const QRect all(0, 0, size, size);
            const int least = size * size / 20;
            QVERIFY2(count(matched, Hue::Green, all) >= least, qPrintable(QString::number(size)));
            QVERIFY(count(matched, Hue::Red, all) <= 2);  // the beak's edge
            QVERIFY(count(unmatched, Hue::Red, all) >= least);
            QVERIFY(count(BirdFrames::icon(BirdFrames::kUnknown, size), Hue::Yellow, all) >= least);
        }
        QSet<QString> names;
        for (int frame = 0; frame < BirdFrames::kCount; ++frame) {
            names.insert(BirdFrames::iconName(frame));
        }
        QCOMPARE(names.size(), BirdFrames::kCount);  // thirteen names and the empty one
        QVERIFY(names.contains(QString()));
        QCOMPARE(BirdFrames::iconName(BirdFrames::kEmptyBar), QString());
        QCOMPARE(BirdFrames::iconName(BirdFrames::kCount), QString());
    }
};

}  // namespace perchlight

QTEST_MAIN(perchlight::BirdFramesTest)
#include "BirdFramesTest.moc"
