#include "host/FrameReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace perchlight {
namespace {

std::string lengthOnly(std::uint32_t length) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &length, 4);
    return bytes;
}

std::vector<Frame> drain(FrameReader& reader) {
    std::vector<Frame> frames;
    while (std::optional<Frame> frame = reader.next()) {
        frames.push_back(*frame);
    }
    return frames;
}

TEST(FrameReader_Split, OneByteAtATimeGivesTheWholeMessages) {
    const std::string stream = encodeFrame("{\"id\":1}") + encodeFrame("{\"id\":2}");
    FrameReader reader(100);
    std::vector<Frame> frames;
    for (const char byte : stream) {
        reader.feed(std::string_view(&byte, 1));
        for (Frame& frame : drain(reader)) {
            frames.push_back(std::move(frame));
        }
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].body, "{\"id\":1}");
    EXPECT_EQ(frames[1].body, "{\"id\":2}");
    EXPECT_FALSE(reader.insideFrame());
}

TEST(FrameReader_Split, ManyFramesInOnePiece) {
    std::string stream;
    for (int i = 0; i < 50; ++i) {
        stream += encodeFrame(std::to_string(i));
    }
    FrameReader reader(100);
    reader.feed(stream);
    const std::vector<Frame> frames = drain(reader);
    ASSERT_EQ(frames.size(), 50u);
    EXPECT_EQ(frames[49].body, "49");
}

TEST(FrameReader_Limit, OversizedFrameIsReportedSkippedAndTheNextOneRead) {
    const std::string big(300, 'x');
    FrameReader reader(100);
    // The oversized body arrives in pieces after its length, then a good frame.
    reader.feed(lengthOnly(300));
    std::vector<Frame> frames = drain(reader);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, Frame::Kind::kTooLarge);
    EXPECT_EQ(frames[0].length, 300u);
    EXPECT_TRUE(reader.insideFrame());
    reader.feed(big.substr(0, 120));
    EXPECT_TRUE(drain(reader).empty());
    reader.feed(big.substr(120) + encodeFrame("ok"));
    frames = drain(reader);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, Frame::Kind::kMessage);
    EXPECT_EQ(frames[0].body, "ok");
}

TEST(FrameReader_Limit, HugeLengthHoldsNoMemory) {
    FrameReader reader(100);
    reader.feed(lengthOnly(0xFFFFFFFFu) + std::string(1000, 'y'));
    const std::vector<Frame> frames = drain(reader);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, Frame::Kind::kTooLarge);
    EXPECT_TRUE(reader.insideFrame());
}

TEST(FrameReader_Limit, ExactlyTheLimitIsAMessage) {
    FrameReader reader(5);
    reader.feed(encodeFrame("12345"));
    const std::vector<Frame> frames = drain(reader);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, Frame::Kind::kMessage);
}

TEST(FrameReader_Empty, ZeroLengthIsReportedAndReadingGoesOn) {
    FrameReader reader(100);
    reader.feed(lengthOnly(0) + encodeFrame("next"));
    const std::vector<Frame> frames = drain(reader);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, Frame::Kind::kEmpty);
    EXPECT_EQ(frames[1].body, "next");
}

TEST(FrameReader_End, StreamCutInsideALengthOrABody) {
    FrameReader lengthCut(100);
    lengthCut.feed(lengthOnly(10).substr(0, 3));
    EXPECT_TRUE(drain(lengthCut).empty());
    EXPECT_TRUE(lengthCut.insideFrame());

    FrameReader bodyCut(100);
    bodyCut.feed(encodeFrame("0123456789").substr(0, 8));
    EXPECT_TRUE(drain(bodyCut).empty());
    EXPECT_TRUE(bodyCut.insideFrame());
}

}  // namespace
}  // namespace perchlight
