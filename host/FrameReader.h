#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace perchlight {

// One frame that the reader took out of the byte stream.
struct Frame {
    enum class Kind {
        kMessage,   // body holds the message's bytes
        kEmpty,     // a zero length
        kTooLarge,  // a length over the limit; its bytes are being skipped, length says how many
    };
    Kind kind = Kind::kMessage;
    std::string body;
    std::uint32_t length = 0;
};

// Splits the browser's byte stream into native-messaging frames: a 4-byte length in the
// machine's byte order, then that many bytes. Bytes may arrive in any pieces; a frame whose length
// is over the limit is reported at once and its bytes are dropped as they arrive, so the stream
// stays in step and memory stays bounded by the limit. Not thread-safe.
class FrameReader {
  public:
    explicit FrameReader(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

    // Takes the next bytes of the stream.
    void feed(std::string_view bytes);
    // The next whole frame, or none until more bytes are fed.
    std::optional<Frame> next();
    // True when the stream stopped inside a frame (a length or a body was cut off).
    bool insideFrame() const;

  private:
    const std::size_t maxMessageBytes_;
    std::string pending_;
    std::size_t skipping_ = 0;  // bytes of an oversized frame still to drop
};

// The 4-byte length prefix followed by the body.
std::string encodeFrame(std::string_view body);

}  // namespace perchlight
