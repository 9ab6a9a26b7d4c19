// The frame pipeline's decisions, seen through the exports: the 288-line threshold of the
// line blend and of field-wise scaling, frames without pixels, unknown pixel formats,
// format changes without Free in between, and the live fit with what it reports.
#include <cstddef>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "plugin_fixture.h"
#include "support/letterboxed_frame.h"

namespace kvx {
namespace {

class FramePipeline : public PluginTest {
protected:
    // One session with `settings` as the settings file: a frame of `format` (a ramp, unless
    // given) as it comes back from ProcessFrame.
    std::vector<uint8_t> OneFrame(const std::string& settings, VideoFormat format, std::vector<uint8_t> frame = {}) {
        SettingsFileScope scope(settings);
        d->Init(nullptr);
        EXPECT_EQ(d->FormatChange(&format), 1);
        Picture picture(format);
        if (!frame.empty()) picture.bytes = frame;
        ChannelRecord record(1, 0, "One");
        FrameInfo info{};
        info.pixels = picture.bytes.data();
        info.channel = record.info();
        EXPECT_EQ(d->ProcessFrame(&info), 1);
        d->Free();
        d->Deinit();
        return picture.bytes;
    }
};

TEST_F(FramePipeline, BlendAndFieldsStartAbove288Lines) {
    for (int32_t height : {288, 289}) {
        SCOPED_TRACE(height);
        const VideoFormat format{64, height, 2, 0, 0};
        // ProcessingSettings(scale, deinterlace, interlace); scale 500 makes fields show.
        const std::vector<uint8_t> both = OneFrame(ProcessingSettings(500, 1, 1), format);
        const std::vector<uint8_t> neither = OneFrame(ProcessingSettings(500, 0, 0), format);
        const std::vector<uint8_t> blend = OneFrame(ProcessingSettings(500, 1, 0), format);
        const std::vector<uint8_t> fields = OneFrame(ProcessingSettings(500, 0, 1), format);
        EXPECT_NE(neither, Picture(format).bytes);  // scaled either way
        if (height == 288) {
            EXPECT_EQ(both, neither);
            EXPECT_EQ(blend, neither);
            EXPECT_EQ(fields, neither);
        } else {
            EXPECT_NE(blend, neither);
            EXPECT_NE(fields, neither);
            EXPECT_NE(both, blend);
            EXPECT_NE(both, fields);
        }
    }
}

TEST_F(FramePipeline, AFrameWithoutPixelsSelectsNoChannel) {
    SettingsFileScope scope("[SETTINGS]\r\nCommon=0\r\n");
    d->Init(nullptr);
    VideoFormat format{64, 48, 2, 0, 0};
    EXPECT_EQ(d->FormatChange(&format), 1);
    Picture picture(format);
    ChannelRecord without(77, 0, "No picture"), with(78, 0, "Picture");
    FrameInfo info{};
    info.channel = without.info();
    EXPECT_EQ(d->ProcessFrame(&info), 0);
    info.pixels = picture.bytes.data();
    info.channel = with.info();
    EXPECT_EQ(d->ProcessFrame(&info), 1);
    d->Free();
    d->Deinit();
    std::string saved;
    ASSERT_TRUE(ReadWholeFile(SettingsFilePath(), &saved));
    EXPECT_EQ(saved.find("[77]"), std::string::npos);
    EXPECT_NE(saved.find("[78]"), std::string::npos);
}

TEST_F(FramePipeline, AnUnknownPixelFormatIsBlendedAndNothingElse) {
    // Scale 500 with fields would show any scaling or border; the reference is the blend
    // alone, from a YUY2 frame of the same bytes with the picture left at its place.
    const VideoFormat unknown{64, 290, 2, 7, 0};
    const std::vector<uint8_t> blended = OneFrame(ProcessingSettings(500, 1, 1), unknown);
    const std::vector<uint8_t> reference = OneFrame(ProcessingSettings(1000, 1, 0), {64, 290, 2, 0, 0});
    EXPECT_NE(blended, Picture(unknown).bytes);
    EXPECT_EQ(blended, reference);
}

// A host may announce a new format without Free first (a channel switch from SD to HD). The
// line the blend saves must then fit the new, wider rows: each frame comes out as a session
// of its format alone gives it, and a buffer kept from the narrower format would overflow
// (ASan reports it).
TEST_F(FramePipeline, AWiderFormatWithoutFreeBlendsIntoABufferOfItsWidth) {
    const std::string settings = ProcessingSettings(1100, 1, 1);
    const VideoFormat formats[] = {{64, 290, 2, 0, 0}, {720, 576, 2, 0, 0}, {720, 576, 3, 1, 0}, {1920, 1080, 3, 1, 0}};
    std::vector<std::vector<uint8_t>> alone;
    for (const VideoFormat& format : formats) alone.push_back(OneFrame(settings, format));

    SettingsFileScope scope(settings);
    d->Init(nullptr);
    ChannelRecord record(1, 0, "One");
    for (size_t i = 0; i < alone.size(); ++i) {
        SCOPED_TRACE(i);
        VideoFormat format = formats[i];
        EXPECT_EQ(d->FormatChange(&format), 1);
        Picture picture(format);
        FrameInfo info{};
        info.pixels = picture.bytes.data();
        info.channel = record.info();
        EXPECT_EQ(d->ProcessFrame(&info), 1);
        EXPECT_EQ(picture.bytes, alone[i]);
    }
    d->Free();
    d->Deinit();
}

// With auto-fit on, bars held for 48 frames (about two seconds at 25 a second) are zoomed
// away; KVX_LiveFitState, the export kvx-host's fit log reads, says so, and from then on each
// frame is exactly the frame its settings give as the profile's own, in both pixel formats
// (under Wine, in the DLL itself).
TEST_F(FramePipeline, TheLiveFitAppliesTheSettingsItReports) {
    const LiveFitStateProc fitState = library.FitState();
    ASSERT_NE(fitState, nullptr);
    LiveFitState tooSmall{};
    tooSmall.size = 4;
    EXPECT_EQ(fitState(nullptr), 0);
    EXPECT_EQ(fitState(&tooSmall), 0);
    for (int32_t pixelFormat : {0, 1}) {
        SCOPED_TRACE(pixelFormat);
        VideoFormat format{720, 576, 2 + pixelFormat, pixelFormat, 0};
        const std::vector<uint8_t> film = LetterboxedFrame(720, 576, pixelFormat, 40, 480);
        std::vector<uint8_t> zoomed;
        LiveFitState s{};
        s.size = sizeof s;
        {
            SettingsFileScope scope("[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\nProcEnable=1\r\nAutoFit=1\r\n");
            d->Init(nullptr);
            EXPECT_EQ(d->FormatChange(&format), 1);
            ASSERT_EQ(fitState(&s), 1);
            const uint32_t before = s.changes;
            ChannelRecord record(1, 0, "One");
            for (int32_t f = 0; f < 60; ++f) {
                zoomed = film;
                FrameInfo info{};
                info.pixels = zoomed.data();
                info.channel = record.info();
                EXPECT_EQ(d->ProcessFrame(&info), 1);
                ASSERT_EQ(fitState(&s), 1);
                if (f == 47) {
                    EXPECT_EQ(s.changes, before) << "zoomed in before the bars held";
                }
            }
            // A caller that knows a shorter record gets that much of it.
            LiveFitState older{};
            older.size = offsetof(LiveFitState, left);
            older.left = -7;
            EXPECT_EQ(fitState(&older), 1);
            EXPECT_EQ(older.reason, kFitBarsHeld);
            EXPECT_EQ(older.left, -7);
            d->Free();
            d->Deinit();
            EXPECT_EQ(s.changes, before + 1);
        }
        EXPECT_EQ(s.active, 1);
        EXPECT_EQ(s.reason, kFitBarsHeld);
        EXPECT_EQ((std::vector<int32_t>{s.left, s.top, s.right, s.bottom}), (std::vector<int32_t>{0, 40, 720, 480}));
        EXPECT_GT(s.scaleY, 1300);
        const std::string own = "[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\nProcEnable=1\r\nOffsetX=" +
                                std::to_string(s.offsetX) + "\r\nOffsetY=" + std::to_string(s.offsetY) +
                                "\r\nScaleX=" + std::to_string(s.scaleX) + "\r\nScaleY=" + std::to_string(s.scaleY) +
                                "\r\n";
        EXPECT_EQ(OneFrame(own, format, film), zoomed);
        EXPECT_NE(film, zoomed);
    }
}

}  // namespace
}  // namespace kvx
