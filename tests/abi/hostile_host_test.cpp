// A host that breaks the rules: callbacks out of order, null pointers, absurd formats,
// allocation failure and channel names without a terminator. Every case has a defined,
// safe answer (the list heads src/host/exports.cpp). A settings file with processing on
// makes "left untouched" different from "processed".
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "hostile_support.h"
#include "plugin_fixture.h"

namespace kvx {
namespace {

const VideoFormat kSmall{64, 48, 2, 0, 0};  // scale 500: the picture shrinks to {16, 12, 48, 36}

class HostileHost : public PluginTest {
protected:
    int32_t Process(Picture& picture, ChannelInfo* channelRecord) {
        FrameInfo info{};
        info.pixels = picture.bytes.data();
        info.channel = channelRecord;
        return d->ProcessFrame(&info);
    }
    // Processes a fresh ramp picture of `format` and reports whether it came back as it went in.
    bool LeftAlone(const VideoFormat& format) {
        Picture picture(format);
        const std::vector<uint8_t> original = picture.bytes;
        return Process(picture, channel.info()) == 1 && picture.bytes == original;
    }
    bool ProcessedSmall() {
        Picture picture(kSmall);
        return Process(picture, channel.info()) == 1 && picture.TopRowBlack();
    }
    ChannelRecord channel{3, 0, "Hostile"};
};

TEST_F(HostileHost, FramesBeforeInitOrAFormatAreLeftAlone) {
    SettingsFileScope settings(ProcessingSettings(500, 0));
    EXPECT_TRUE(LeftAlone(kSmall));  // before Init: the built-in defaults, processing off
    InitInfo init{0, nullptr};
    d->Init(&init);
    EXPECT_TRUE(LeftAlone(kSmall));  // settings say on, but no format yet
    EXPECT_EQ(d->FormatChange(nullptr), 1);
    EXPECT_TRUE(LeftAlone(kSmall));
    VideoFormat format = kSmall;
    EXPECT_EQ(d->FormatChange(&format), 1);
    EXPECT_TRUE(ProcessedSmall());
    EXPECT_EQ(d->FormatChange(nullptr), 1);  // ignored: the format in force stays
    EXPECT_TRUE(ProcessedSmall());
    d->Free();
    d->Deinit();
}

TEST_F(HostileHost, AbsurdFormatsLeaveFramesAloneUntilASaneOneArrives) {
    SettingsFileScope settings(ProcessingSettings(500, 1, 1));
    d->Init(nullptr);
    const VideoFormat rejected[] = {
        {0, 48, 2, 0, 0},       {-64, 48, 2, 0, 0},          {64, -48, 2, 0, 0},
        {64, 0, 2, 0, 0},       {32768, 48, 2, 0, 0},        {64, 32768, 2, 0, 0},
        {INT32_MAX, INT32_MAX, 2, 0, 0}, {INT32_MIN, INT32_MIN, 3, 1, 0},
        {64, 48, 0, 0, 0},      {64, 48, -2, 0, 0},          {64, 48, 17, 1, 0},
        {64, 48, INT32_MAX, 1, 0}, {64, 48, INT32_MIN, 0, 0}};
    for (const VideoFormat& f : rejected) {
        VideoFormat copy = f;
        EXPECT_EQ(d->FormatChange(&copy), 1);
        EXPECT_TRUE(LeftAlone(kSmall)) << f.width << "x" << f.height << " bpp " << f.bytesPerPixel;
        VideoFormat sane = kSmall;
        EXPECT_EQ(d->FormatChange(&sane), 1);
        EXPECT_TRUE(ProcessedSmall());
    }
    // Usable sizes with fewer bytes per pixel than the pixel format needs, or an unknown
    // format: neither scaled nor filled (the frames are too short for the line blend).
    const VideoFormat unscaled[] = {{64, 48, 1, 0, 0}, {64, 48, 2, 1, 0}, {64, 48, 1, 1, 0},
                                    {64, 48, 2, 7, 0}, {64, 48, 3, -1, 0}};
    for (const VideoFormat& f : unscaled) {
        VideoFormat copy = f;
        EXPECT_EQ(d->FormatChange(&copy), 1);
        EXPECT_TRUE(LeftAlone(f)) << "format " << f.pixelFormat << " bpp " << f.bytesPerPixel;
    }
    // More bytes per pixel than the format needs: the frame holds the format's rows and
    // more. Those rows come out as in a frame of the exact size; the rest stays as it was.
    const VideoFormat roomy[] = {{64, 48, 3, 0, 0}, {64, 48, 16, 0, 0}, {64, 48, 4, 1, 0}};
    for (const VideoFormat& f : roomy) {
        VideoFormat exact = f;
        exact.bytesPerPixel = f.pixelFormat == 0 ? 2 : 3;
        Picture expected(exact);
        EXPECT_EQ(d->FormatChange(&exact), 1);
        EXPECT_EQ(Process(expected, channel.info()), 1);
        VideoFormat copy = f;
        EXPECT_EQ(d->FormatChange(&copy), 1);
        Picture picture(f);
        const std::vector<uint8_t> original = picture.bytes;
        EXPECT_EQ(Process(picture, channel.info()), 1);
        const auto used = static_cast<std::ptrdiff_t>(expected.bytes.size());
        EXPECT_TRUE(std::equal(expected.bytes.begin(), expected.bytes.end(), picture.bytes.begin()))
            << "format " << f.pixelFormat << " bpp " << f.bytesPerPixel;
        EXPECT_TRUE(std::equal(picture.bytes.begin() + used, picture.bytes.end(),
                               original.begin() + used));
        EXPECT_FALSE(std::equal(expected.bytes.begin(), expected.bytes.end(), original.begin()));
    }
    d->Free();
    d->Deinit();
}

TEST_F(HostileHost, AFailedAllocationLeavesTheFrameAloneAndLaterFramesWork) {
    if (!AddressSpaceSqueeze::Available()) GTEST_SKIP() << "the address space cannot be squeezed here";
    SettingsFileScope settings(ProcessingSettings(500, 0));
    d->Init(nullptr);
    // A frame the host can afford, whose work image (about 32 MiB) the plug-in cannot.
    VideoFormat big{4096, 2048, 2, 0, 0};
    EXPECT_EQ(d->FormatChange(&big), 1);
    Picture picture(big);
    const std::vector<uint8_t> original = picture.bytes;
    int32_t result;
    {
        AddressSpaceSqueeze squeeze;
        result = Process(picture, channel.info());
    }
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(picture.bytes == original);
    // With room again the same stream is processed, and so is a new sane format.
    EXPECT_EQ(Process(picture, channel.info()), 1);
    EXPECT_TRUE(picture.TopRowBlack());
    VideoFormat sane = kSmall;
    EXPECT_EQ(d->FormatChange(&sane), 1);
    EXPECT_TRUE(ProcessedSmall());
    d->Free();
    d->Deinit();
}

TEST_F(HostileHost, NullPointersInEveryArgument) {
    SettingsFileScope settings(ProcessingSettings(500, 0));
    d->Init(nullptr);  // loads the file all the same
    EXPECT_EQ(d->FormatChange(nullptr), 1);
    VideoFormat format = kSmall;
    EXPECT_EQ(d->FormatChange(&format), 1);
    EXPECT_EQ(d->ProcessFrame(nullptr), 0);
    Picture picture(kSmall);
    const std::vector<uint8_t> original = picture.bytes;
    FrameInfo noPixels{};
    noPixels.channel = channel.info();
    EXPECT_EQ(d->ProcessFrame(&noPixels), 0);
    FrameInfo nothing{};
    EXPECT_EQ(d->ProcessFrame(&nothing), 0);
    // No channel record: the frame is processed with the settings in force.
    EXPECT_EQ(Process(picture, nullptr), 1);
    EXPECT_TRUE(picture.TopRowBlack());
    d->ShowSettings(nullptr);
    HostWindow noWindow = nullptr;
    d->ShowSettings(&noWindow);
    EXPECT_TRUE(ProcessedSmall());
    d->Free();
    d->Deinit();  // closes a dialog opened without an owner
#if defined(_WIN32)
    EXPECT_EQ(FindThreadDialog(), nullptr);  // Deinit left no window behind
#endif
}

TEST_F(HostileHost, CallsAfterFreeAndDeinit) {
    SettingsFileScope settings(ProcessingSettings(900, 1, 1));
    d->Init(nullptr);
    VideoFormat tall{720, 576, 2, 0, 0};  // tall enough for the line blend
    EXPECT_EQ(d->FormatChange(&tall), 1);
    const Picture original(tall);
    Picture expected = original;
    EXPECT_EQ(Process(expected, channel.info()), 1);
    ASSERT_TRUE(expected.bytes != original.bytes);

    auto again = [&] {
        Picture picture = original;
        return Process(picture, channel.info()) == 1 && picture.bytes == expected.bytes;
    };
    d->Free();
    EXPECT_TRUE(again());  // the blend gets a line buffer of its own again
    d->Free();
    d->Free();
    EXPECT_TRUE(again());
    d->Deinit();
    EXPECT_TRUE(again());  // Deinit saves; it frees nothing the frames need
    std::string first, second;
    EXPECT_TRUE(ReadWholeFile(SettingsFilePath(), &first));
    d->Deinit();
    EXPECT_TRUE(ReadWholeFile(SettingsFilePath(), &second));
    EXPECT_EQ(first, second);
    d->Init(nullptr);  // a second Init reads the saved file afresh
    EXPECT_TRUE(again());
    d->Free();
    d->Deinit();
}

TEST_F(HostileHost, DeinitBeforeInitWritesNothing) {
    SettingsFileScope settings("");
    settings.Remove();
    d->Deinit();
    std::string text;
    EXPECT_FALSE(ReadWholeFile(SettingsFilePath(), &text));
    d->Init(nullptr);
    d->Deinit();
    EXPECT_TRUE(ReadWholeFile(SettingsFilePath(), &text));
    EXPECT_NE(text.find("[COMMON]"), std::string::npos);
}

// A ChannelInfo of exactly `bytes` bytes at `at`: key, the unread field, then name bytes
// without any terminator up to the last byte.
ChannelInfo* UnterminatedChannel(uint8_t* at, size_t bytes, uint32_t key) {
    std::memset(at, 'N', bytes);
    ChannelInfo* info = reinterpret_cast<ChannelInfo*>(at);
    info->keyLow = key;
    info->keyHigh = 0;
    return info;
}

TEST_F(HostileHost, ChannelNamesWithoutATerminatorAreReadNoFurtherThan255Bytes) {
    SettingsFileScope settings(ProcessingSettings(500, 0));
    d->Init(nullptr);
    VideoFormat format = kSmall;
    EXPECT_EQ(d->FormatChange(&format), 1);
    const size_t nameOffset = offsetof(ChannelInfo, name);
    uint32_t key = 100;
    for (size_t nameBytes : {size_t{256}, size_t{260}, size_t{4000}}) {
        // The record ends exactly at a page that cannot be read (a host's record starts
        // 4-aligned, so 256 is the shortest name that ends there).
        GuardedBytes page(nameOffset + nameBytes);
        ASSERT_NE(page.Data(), nullptr);
        Picture picture(kSmall);
        EXPECT_EQ(Process(picture, UnterminatedChannel(page.Data(), nameOffset + nameBytes, ++key)), 1);
        EXPECT_TRUE(picture.TopRowBlack());
    }
    for (size_t nameBytes : {size_t{255}, size_t{256}, size_t{1000}}) {
        // Exactly sized heap blocks: AddressSanitizer sees any byte read past them.
        std::unique_ptr<uint8_t[]> heap(new uint8_t[nameOffset + nameBytes]);
        Picture picture(kSmall);
        EXPECT_EQ(Process(picture, UnterminatedChannel(heap.get(), nameOffset + nameBytes, ++key)), 1);
        EXPECT_TRUE(picture.TopRowBlack());
    }
    // Channel records that switch every frame, each name cut short by its terminator.
    for (uint32_t k = 0; k < 64; ++k) {
        ChannelRecord short_(k, k * 7, std::string(k, 'x'));
        EXPECT_TRUE(ProcessedSmall());
        Picture picture(kSmall);
        EXPECT_EQ(Process(picture, short_.info()), 1);
    }
    d->Free();
    d->Deinit();
}

}  // namespace
}  // namespace kvx
