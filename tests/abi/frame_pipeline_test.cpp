// The frame pipeline's decisions, seen through the exports: the 288-line threshold of the
// line blend and of field-wise scaling, frames without pixels, unknown pixel formats, and
// format changes without Free in between.
#include <string>
#include <vector>

#include "hostile_support.h"
#include "plugin_fixture.h"

namespace kvx {
namespace {

class FramePipeline : public PluginTest {
protected:
    // One session with `settings` as the settings file: a ramp frame of `format` as it
    // comes back from ProcessFrame.
    std::vector<uint8_t> OneFrame(const std::string& settings, VideoFormat format) {
        SettingsFileScope scope(settings);
        d->Init(nullptr);
        EXPECT_EQ(d->FormatChange(&format), 1);
        Picture picture(format);
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

}  // namespace
}  // namespace kvx
