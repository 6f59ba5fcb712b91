#pragma once

#include <QImage>
#include <QString>

#include "browser/BirdPicture.h"

namespace perchlight {

// The bird's pictures: a strip of fourteen 100 x 18 frames and the shape image whose magenta
// pixels are transparent. Both are drawn here, once per process, at first use. Thread-safe.
class BirdFrames {
  public:
    static constexpr int kWidth = 100;
    static constexpr int kHeight = 18;
    static constexpr int kCount = 14;

    // Frame numbers, in the order of the strip.
    enum Frame : int {
        kMatched = kPictureMatched,
        kPartlyMatched = kPicturePartlyMatched,
        kMatchedCookieBlocked = kPictureMatchedCookieBlocked,
        kPartlyMatchedCookieBlocked = kPicturePartlyMatchedCookieBlocked,
        kUnknown = kPictureUnknown,
        kUnknownCookieBlocked = kPictureUnknownCookieBlocked,
        kUnmatched = kPictureUnmatched,
        kUnmatchedCookieBlocked = kPictureUnmatchedCookieBlocked,
        kSleeping = kPictureSleeping,
        kEmptyBar = kPictureEmptyBar,
        kFirstFlap = kPictureFirstFlap,
        kLastFlap = kPictureLastFlap,
    };

    // The colour of the shape image's transparent pixels.
    static constexpr QRgb kTransparent = qRgb(255, 0, 255);

    // The 1400 x 18 strip of all frames, left to right.
    static const QImage& strip();
    // The 100 x 18 shape: kTransparent at the rounded corners, anything else is the bird.
    static const QImage& shape();
    // One frame of the strip.
    static QImage frame(int index);
    // A square icon of a frame's mark and bird without the bar, drawn at that size from the same
    // drawing (transparent background): the browser extension's toolbar pictures and the
    // application icon.
    static QImage icon(int index, int size);
    // The file name stem of a frame's icon ("matched", "flap-1", ...); empty for the empty bar.
    static QString iconName(int index);
};

}  // namespace perchlight
