#include "ui/BirdFrames.h"

#include <QPainter>
#include <QPainterPath>

namespace perchlight {
namespace {

// Where the pictures sit on the bar: the mark left of the bird, the bird looking at it.
constexpr qreal kMarkX = 33.0;
constexpr qreal kBirdX = 58.0;
constexpr qreal kBirdY = 9.5;

struct Plumage {
    QColor body;
    QColor wing;
    QColor outline;
};

const Plumage kGreen{QColor(0x46, 0xb8, 0x3c), QColor(0x2c, 0x8a, 0x2a), QColor(0x14, 0x4d, 0x14)};
const Plumage kYellow{QColor(0xf6, 0xcc, 0x1a), QColor(0xd9, 0x9e, 0x06), QColor(0x7a, 0x5a, 0x00)};
const Plumage kRed{QColor(0xe0, 0x36, 0x2c), QColor(0xa8, 0x1c, 0x16), QColor(0x5e, 0x0c, 0x08)};
const Plumage kGrey{QColor(0xa4, 0xa4, 0xa4), QColor(0x86, 0x86, 0x86), QColor(0x55, 0x55, 0x55)};

const QColor kBeak(0xf0, 0x8a, 0x10);
const QColor kMarkBlack(0x10, 0x10, 0x10);
const QColor kMarkRed(0xd0, 0x10, 0x10);

enum class Wing { Folded, Raised, Level, Lowered, Rising };

void drawBar(QPainter& painter) {
    const QRectF bar(0.5, 0.5, BirdFrames::kWidth - 1.0, BirdFrames::kHeight - 1.0);
    QLinearGradient shade(0, 0, 0, BirdFrames::kHeight);
    shade.setColorAt(0.0, QColor(0xf2, 0xf2, 0xf2));
    shade.setColorAt(0.5, QColor(0xd8, 0xd8, 0xd8));
    shade.setColorAt(1.0, QColor(0xb4, 0xb4, 0xb4));
    painter.setPen(QPen(QColor(0x78, 0x78, 0x78), 1.0));
    painter.setBrush(shade);
    painter.drawRoundedRect(bar, 3.0, 3.0);
}

QPainterPath wingPath(Wing wing) {
    QPainterPath path;
    switch (wing) {
        case Wing::Folded:
            path.addEllipse(QPointF(2.5, 1.2), 4.6, 2.5);
            break;
        case Wing::Raised:  // spread up and back, three feather tips
            path.moveTo(-1.5, -0.5);
            path.lineTo(1.6, -8.2);
            path.lineTo(3.4, -6.0);
            path.lineTo(5.6, -8.4);
            path.lineTo(6.8, -5.6);
            path.lineTo(9.8, -7.0);
            path.lineTo(7.2, -0.2);
            path.closeSubpath();
            break;
        case Wing::Level:  // straight out behind the back
            path.moveTo(-1.0, -0.8);
            path.lineTo(9.5, -3.8);
            path.lineTo(8.8, -1.6);
            path.lineTo(10.5, -1.2);
            path.lineTo(5.0, 1.4);
            path.closeSubpath();
            break;
        case Wing::Rising:  // on its way up again, half raised
            path.moveTo(-1.0, -0.8);
            path.lineTo(7.0, -6.8);
            path.lineTo(7.2, -4.4);
            path.lineTo(9.4, -4.8);
            path.lineTo(5.6, 0.9);
            path.closeSubpath();
            break;
        case Wing::Lowered:  // beating down below the belly
            path.moveTo(-1.0, 0.5);
            path.lineTo(0.8, 6.8);
            path.lineTo(2.4, 5.4);
            path.lineTo(4.0, 7.4);
            path.lineTo(5.4, 5.2);
            path.lineTo(6.2, 0.8);
            path.closeSubpath();
            break;
    }
    return path;
}

// A small bird facing left, centred on the origin of the painter.
void drawBird(QPainter& painter, const Plumage& plumage, Wing wing, bool eyesClosed) {
    const QPen outline(plumage.outline, 0.8);
    painter.setPen(outline);

    // Tail, body, head.
    painter.setBrush(plumage.wing);
    painter.drawPolygon(QPolygonF(
        {QPointF(6.0, -0.5), QPointF(12.5, -3.0), QPointF(13.0, 1.2), QPointF(6.5, 2.8)}));
    painter.setBrush(plumage.body);
    painter.drawEllipse(QPointF(1.5, 1.0), 7.0, 4.6);
    painter.drawEllipse(QPointF(-5.2, -3.0), 3.7, 3.5);

    // Beak.
    painter.setBrush(kBeak);
    painter.setPen(QPen(kBeak.darker(160), 0.6));
    painter.drawPolygon(
        QPolygonF({QPointF(-8.4, -4.0), QPointF(-11.8, -2.4), QPointF(-8.3, -1.4)}));

    // Eye: open, or a closed lid for the sleeping bird.
    if (eyesClosed) {
        painter.setPen(QPen(plumage.outline, 0.9, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(-7.6, -5.2, 2.8, 2.2), 200 * 16, 140 * 16);
    } else {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(-6.0, -3.8), 1.25, 1.25);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(-6.3, -3.8), 0.7, 0.7);
    }

    painter.setPen(outline);
    painter.setBrush(plumage.wing);
    painter.drawPath(wingPath(wing));

    // Legs.
    painter.setPen(QPen(QColor(0x50, 0x40, 0x30), 0.9, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(0.0, 5.4), QPointF(-0.6, 7.0));
    painter.drawLine(QPointF(2.6, 5.4), QPointF(2.2, 7.0));
}

void drawCheck(QPainter& painter) {
    painter.setPen(QPen(kMarkBlack, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF(
        {QPointF(kMarkX - 4.5, 9.0), QPointF(kMarkX - 1.5, 12.6), QPointF(kMarkX + 4.0, 4.0)}));
}

void drawCross(QPainter& painter, QPointF centre, qreal half, qreal width) {
    painter.setPen(QPen(kMarkRed, width, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(-half, -half), centre + QPointF(half, half));
    painter.drawLine(centre + QPointF(-half, half), centre + QPointF(half, -half));
}

// A check mark whose end carries a small red cross: the page matches, some content does not.
void drawPartlyMatchedMark(QPainter& painter) {
    drawCheck(painter);
    drawCross(painter, QPointF(kMarkX + 4.2, 4.4), 2.2, 1.6);
}

void drawQuestionMark(QPainter& painter, const QColor& colour) {
    QPainterPath hook;
    hook.moveTo(kMarkX - 3.0, 5.6);
    hook.cubicTo(kMarkX - 3.0, 1.6, kMarkX + 3.4, 1.6, kMarkX + 3.2, 5.4);
    hook.cubicTo(kMarkX + 3.0, 8.0, kMarkX, 7.8, kMarkX, 11.0);
    const bool light = colour.lightness() > 128;
    if (light) {  // a thin dark rim keeps a yellow mark visible on the light bar
        painter.setPen(QPen(kYellow.outline, 3.4, Qt::SolidLine, Qt::RoundCap));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(hook);
        painter.setBrush(kYellow.outline);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(kMarkX, 14.2), 1.7, 1.7);
    }
    painter.setPen(QPen(colour, 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(hook);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(kMarkX, 14.2), 1.15, 1.15);
}

// Where a frame's mark and bird go: on the bar, or filling a square icon of kIconBox units.
constexpr qreal kIconBox = 26.0;

struct Placement {
    bool icon = false;

    // The bird, centred on `at` of the bar and scaled; in an icon, large at the bottom right.
    void bird(QPainter& painter, const Plumage& plumage, Wing wing, bool eyesClosed = false,
              qreal scale = 1.0, QPointF at = QPointF(kBirdX, kBirdY)) const {
        painter.save();
        if (icon) {
            painter.translate(13.0, 18.0);
        } else {
            painter.translate(at);
            painter.scale(scale, scale);
        }
        drawBird(painter, plumage, wing, eyesClosed);
        painter.restore();
    }

    // The mark as drawn on the bar; in an icon, smaller at the top left.
    template <typename Draw>
    void mark(QPainter& painter, Draw draw) const {
        painter.save();
        if (icon) {
            painter.translate(6.5, 6.5);
            painter.scale(0.8, 0.8);
            painter.translate(-kMarkX, -8.5);
        }
        draw();
        painter.restore();
    }
};

void drawFrame(QPainter& painter, int index, const Placement& place = {}) {
    if (!place.icon) {
        drawBar(painter);
    }
    switch (index) {
        case BirdFrames::kMatched:
            place.mark(painter, [&] { drawCheck(painter); });
            place.bird(painter, kGreen, Wing::Raised);
            break;
        case BirdFrames::kPartlyMatched:
        case BirdFrames::kMatchedCookieBlocked:
        case BirdFrames::kPartlyMatchedCookieBlocked:
            place.mark(painter, [&] { drawPartlyMatchedMark(painter); });
            place.bird(painter, kGreen, Wing::Folded);
            break;
        case BirdFrames::kUnknown:
        case BirdFrames::kUnknownCookieBlocked:
            place.mark(painter, [&] { drawQuestionMark(painter, kMarkBlack); });
            place.bird(painter, kYellow, Wing::Folded);
            break;
        case BirdFrames::kUnmatched:
        case BirdFrames::kUnmatchedCookieBlocked:
            place.mark(painter, [&] { drawCross(painter, QPointF(kMarkX, 9.0), 3.6, 2.4); });
            place.bird(painter, kRed, Wing::Folded);
            break;
        case BirdFrames::kSleeping:
            place.bird(painter, kGrey, Wing::Folded, true, 0.85, QPointF(50.0, 10.2));
            break;
        case BirdFrames::kEmptyBar:
            break;
        default: {  // the flapping yellow bird of a running check
            static constexpr Wing kBeat[] = {Wing::Raised, Wing::Level, Wing::Lowered,
                                             Wing::Rising};
            const int step = index - BirdFrames::kFirstFlap;
            place.mark(painter, [&] {
                drawQuestionMark(painter, step % 2 == 0 ? kMarkBlack : kYellow.body);
            });
            place.bird(painter, kYellow, kBeat[step], false, 1.0,
                       QPointF(kBirdX, kBirdY - (step == 0 ? 0.8 : 0.0)));
            break;
        }
    }
}

QImage drawStrip() {
    QImage strip(BirdFrames::kWidth * BirdFrames::kCount, BirdFrames::kHeight,
                 QImage::Format_RGB32);
    strip.fill(
        QColor(0x78, 0x78, 0x78));  // the rim colour, so that the rounded corners blend into it
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int index = 0; index < BirdFrames::kCount; ++index) {
        painter.save();
        painter.translate(index * BirdFrames::kWidth, 0);
        painter.setClipRect(0, 0, BirdFrames::kWidth, BirdFrames::kHeight);
        drawFrame(painter, index);
        painter.restore();
    }
    return strip;
}

// Rounded corners: two pixels at each end of the outer rows, one at each end of the next rows.
QImage drawShape() {
    QImage shape(BirdFrames::kWidth, BirdFrames::kHeight, QImage::Format_RGB32);
    shape.fill(QColor(0xc0, 0xc0, 0xc0));
    const int right = BirdFrames::kWidth - 1;
    for (const int y : {0, BirdFrames::kHeight - 1}) {
        for (const int x : {0, 1, right - 1, right}) {
            shape.setPixel(x, y, BirdFrames::kTransparent);
        }
    }
    for (const int y : {1, BirdFrames::kHeight - 2}) {
        for (const int x : {0, right}) {
            shape.setPixel(x, y, BirdFrames::kTransparent);
        }
    }
    return shape;
}

}  // namespace

const QImage& BirdFrames::strip() {
    static const QImage strip = drawStrip();
    return strip;
}

const QImage& BirdFrames::shape() {
    static const QImage shape = drawShape();
    return shape;
}

QImage BirdFrames::frame(int index) {
    return strip().copy(index * kWidth, 0, kWidth, kHeight);
}

QImage BirdFrames::icon(int index, int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kIconBox, size / kIconBox);
    drawFrame(painter, index, Placement{true});
    return icon;
}

QString BirdFrames::iconName(int index) {
    static const char* const kNames[kCount] = {"matched",
                                               "partly-matched",
                                               "matched-cookie-blocked",
                                               "partly-matched-cookie-blocked",
                                               "unknown",
                                               "unknown-cookie-blocked",
                                               "unmatched",
                                               "unmatched-cookie-blocked",
                                               "sleeping",
                                               "",
                                               "flap-1",
                                               "flap-2",
                                               "flap-3",
                                               "flap-4"};
    return index >= 0 && index < kCount ? QString::fromLatin1(kNames[index]) : QString();
}

}  // namespace perchlight
