#pragma once

#include <cstddef>
#include <string_view>

namespace perchlight {

// The bird's pictures by number, the order of its strip: the Qt bird (ui/BirdFrames) and the
// extension's toolbar icons both number them so.
enum BirdPicture : int {
    kPictureMatched = 0,
    kPicturePartlyMatched = 1,
    kPictureMatchedCookieBlocked = 2,
    kPicturePartlyMatchedCookieBlocked = 3,
    kPictureUnknown = 4,
    kPictureUnknownCookieBlocked = 5,
    kPictureUnmatched = 6,
    kPictureUnmatchedCookieBlocked = 7,
    kPictureSleeping = 8,
    kPictureEmptyBar = 9,
    kPictureFirstFlap = 10,
    kPictureLastFlap = 13,
};

// The bird's tooltips when it has no policy summary to show, and their longest length.
inline constexpr std::string_view kBirdTipIdle = "Click here to use Perchlight";
inline constexpr std::string_view kBirdTipNoPolicy = "Valid policy not found";
inline constexpr std::size_t kBirdMaxTipLength = 9999;

// The picture of a page verdict (matched 0, unmatched 1, partly matched 2, anything else unknown).
constexpr int verdictPicture(int verdict, bool cookieBlocked) {
    switch (verdict) {
        case 0:
            return cookieBlocked ? kPictureMatchedCookieBlocked : kPictureMatched;
        case 1:
            return cookieBlocked ? kPictureUnmatchedCookieBlocked : kPictureUnmatched;
        case 2:
            return cookieBlocked ? kPicturePartlyMatchedCookieBlocked : kPicturePartlyMatched;
        default:
            return cookieBlocked ? kPictureUnknownCookieBlocked : kPictureUnknown;
    }
}

// Whether the tooltip of a verdict is the policy's summary (else kBirdTipNoPolicy).
constexpr bool verdictHasSummary(int verdict) {
    return verdict == 0 || verdict == 1 || verdict == 2;
}

}  // namespace perchlight
