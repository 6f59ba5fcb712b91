#include "host/FrameReader.h"

#include <algorithm>
#include <cstring>

namespace perchlight {

void FrameReader::feed(std::string_view bytes) {
    if (skipping_ > 0) {
        const std::size_t dropped = std::min(skipping_, bytes.size());
        skipping_ -= dropped;
        bytes.remove_prefix(dropped);
    }
    pending_.append(bytes);
}

std::optional<Frame> FrameReader::next() {
    if (skipping_ > 0 || pending_.size() < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, pending_.data(), sizeof length);
    Frame frame;
    frame.length = length;
    if (length == 0) {
        pending_.erase(0, sizeof length);
        frame.kind = Frame::Kind::kEmpty;
        return frame;
    }
    if (length > maxMessageBytes_) {
        pending_.erase(0, sizeof length);
        const std::size_t dropped = std::min<std::size_t>(length, pending_.size());
        pending_.erase(0, dropped);
        skipping_ = length - dropped;
        frame.kind = Frame::Kind::kTooLarge;
        return frame;
    }
    if (pending_.size() - sizeof length < length) {
        return std::nullopt;
    }
    frame.body = pending_.substr(sizeof length, length);
    pending_.erase(0, sizeof length + length);
    return frame;
}

bool FrameReader::insideFrame() const {
    return skipping_ > 0 || !pending_.empty();
}

std::string encodeFrame(std::string_view body) {
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame.append(body);
    return frame;
}

}  // namespace perchlight
