// The YUV4MPEG2 frames ffmpeg hands --detect: the size its header names must be the size
// asked for, and a stream that stops or strays is an error, never a misread frame.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frames/y4m_reader.h"

namespace kvx {
namespace {

struct Case {
    const char* what;
    std::string stream;
    std::vector<Y4mReader::Result> results;  // of successive Next calls
};

TEST(Y4mReader, ReadsFramesOfTheSizeAskedForAndNothingElse) {
    const std::string planes(4 * 2 + 2 * 2 * 1, 'p');  // 4x2: Y 8 bytes, U and V 2 each
    const std::string header = "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n";
    using R = Y4mReader::Result;
    const std::vector<Case> cases = {
        {"two frames", header + "FRAME\n" + planes + "FRAME\n" + planes, {R::Frame, R::Frame, R::End}},
        {"no chroma word: 4:2:0", "YUV4MPEG2 W4 H2\nFRAME\n" + planes, {R::Frame, R::End}},
        {"nothing at all", "", {R::End}},
        {"another width", "YUV4MPEG2 W6 H2 C420jpeg\nFRAME\n" + planes, {R::Error}},
        {"another height", "YUV4MPEG2 W4 H3 C420jpeg\nFRAME\n" + planes, {R::Error}},
        {"4:2:2 planes", "YUV4MPEG2 W4 H2 C422\nFRAME\n" + planes, {R::Error}},
        {"not YUV4MPEG2", "RIFF W4 H2\nFRAME\n" + planes, {R::Error}},
        {"a header without its end", std::string(2000, 'Y'), {R::Error}},
        {"a frame cut short", header + "FRAME\n" + planes.substr(3), {R::Error}},
        {"a frame header cut short", header + "FRA", {R::Error}},
        {"a frame without FRAME", header + "FRAME\n" + planes + "JUNK\n" + planes, {R::Frame, R::Error}},
    };
    FrameGeometry g;
    g.width = 4;
    g.height = 2;
    for (const Case& c : cases) {
        std::string bytes = c.stream;
        FILE* f = bytes.empty() ? std::tmpfile() : fmemopen(&bytes[0], bytes.size(), "rb");
        ASSERT_NE(f, nullptr) << c.what;
        Y4mReader reader(f, g);
        std::vector<uint8_t> frame;
        std::string error;
        for (Y4mReader::Result expected : c.results) {
            const Y4mReader::Result got = reader.Next(frame, error);
            EXPECT_EQ(got, expected) << c.what;
            if (got == R::Frame) {
                EXPECT_EQ(std::string(frame.begin(), frame.end()), planes) << c.what;
            }
            if (got == R::Error) {
                EXPECT_FALSE(error.empty()) << c.what;
            }
        }
        std::fclose(f);
    }
}

}  // namespace
}  // namespace kvx
