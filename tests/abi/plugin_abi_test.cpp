// The plug-in driven only through its exports: version, descriptor, calling order, bad calls.
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "plugin_fixture.h"

namespace kvx {
namespace {

const char kName1251[] = "\xCC\xE0\xF1\xF8\xF2\xE0\xE1\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5\x20\xEA\xE0\xE4\xF0\xE0";

std::vector<uint8_t> Ramp(size_t bytes) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 1440);
    return v;
}

TEST_F(PluginTest, VersionAndDescriptor) {
    EXPECT_EQ(library.Version(), 3);
    EXPECT_STREQ(d->name, kName1251);
    EXPECT_EQ(d->name, d->name2);
    EXPECT_EQ(std::strlen(d->name), 21u);
    for (auto slot : {reinterpret_cast<void*>(d->Init), reinterpret_cast<void*>(d->FormatChange),
                      reinterpret_cast<void*>(d->ProcessFrame), reinterpret_cast<void*>(d->Free),
                      reinterpret_cast<void*>(d->ShowSettings), reinterpret_cast<void*>(d->Deinit)})
        EXPECT_NE(slot, nullptr);
    // Every call hands out the same static table.
    std::string error;
    PluginLibrary again;
    ASSERT_TRUE(again.Open(PluginPath(), error)) << error;
    EXPECT_EQ(again.Descriptor(), d);
}

TEST_F(PluginTest, FramesWithDefaultSettingsStayUnchanged) {
    InitInfo init{0, nullptr};
    d->Init(&init);
    VideoFormat yuyv{720, 576, 2, 0, 0};
    EXPECT_EQ(d->FormatChange(&yuyv), 1);
    EXPECT_EQ(d->FormatChange(&yuyv), 1);  // twice without Free: the first buffer is released
    ChannelRecord channel(5, 0, "Test");
    std::vector<uint8_t> frame = Ramp(720 * 576 * 2), original = frame;
    FrameInfo info{};
    info.channel = channel.info();
    EXPECT_EQ(d->ProcessFrame(&info), 0);  // no pixels
    info.pixels = frame.data();
    EXPECT_EQ(d->ProcessFrame(&info), 1);
    EXPECT_EQ(frame, original);
    d->Free();
    VideoFormat bgr{720, 576, 3, 1, 0};
    EXPECT_EQ(d->FormatChange(&bgr), 1);
    frame = original = Ramp(720 * 576 * 3);
    info.pixels = frame.data();
    EXPECT_EQ(d->ProcessFrame(&info), 1);
    EXPECT_EQ(frame, original);
    d->Free();
    d->Deinit();
}

TEST_F(PluginTest, OutOfOrderAndNullCallsAreHarmless) {
    // As large as the largest format below that the plug-in accepts (65 x 48 x 2).
    std::vector<uint8_t> frame = Ramp(65 * 48 * 2), original = frame;
    ChannelRecord channel(7, 0, "X");
    FrameInfo info{};
    info.pixels = frame.data();
    info.channel = channel.info();
    EXPECT_EQ(d->ProcessFrame(&info), 1);  // before Init and FormatChange: untouched
    EXPECT_EQ(d->ProcessFrame(nullptr), 0);
    d->Free();
    d->Free();
    d->Init(nullptr);
    EXPECT_EQ(d->FormatChange(nullptr), 1);
    VideoFormat absurd[] = {{0, 576, 2, 0, 0},  {-720, 576, 2, 0, 0}, {720, -1, 2, 0, 0},
                            {65, 48, 2, 0, 0},  {64, 48, 1, 0, 0},   {64, 48, 0, 1, 0},
                            {INT32_MAX, INT32_MAX, 4, 0, 0}, {64, 48, 2, 9, 0}};
    for (VideoFormat& f : absurd) {
        EXPECT_EQ(d->FormatChange(&f), 1);
        EXPECT_EQ(d->ProcessFrame(&info), 1);
        EXPECT_EQ(frame, original);  // processing is off by default; nothing else may touch it
    }
    info.channel = nullptr;
    EXPECT_EQ(d->ProcessFrame(&info), 1);
    d->ShowSettings(nullptr);
    d->Free();
    EXPECT_EQ(d->ProcessFrame(&info), 1);  // after Free
    d->Deinit();
    d->Deinit();
    EXPECT_EQ(frame, original);
}

#if defined(_WIN32)
TEST_F(PluginTest, ExportOrdinals) {
    HMODULE dll = GetModuleHandleA("KVX_Scaler.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(1)), GetProcAddress(dll, "Korvanta_Plugin_PR"));
    EXPECT_EQ(GetProcAddress(dll, MAKEINTRESOURCEA(2)), GetProcAddress(dll, "Korvanta_Plugin_Version"));
}
#endif

#if defined(_WIN32) && defined(__i386__)
// Hosts built with other compilers, and user32, call us with the stack aligned to 4 bytes
// only. Calls a callback with esp = 4 mod 16 at the call instruction.
int32_t CallMisaligned(void* fn, void* arg) {
    int32_t result;
    asm volatile(
        "mov %%esp, %%esi\n\t"
        "and $-16, %%esp\n\t"
        "sub $8, %%esp\n\t"
        "push %[arg]\n\t"
        "call *%[fn]\n\t"
        "mov %%esi, %%esp\n\t"
        : "=a"(result)
        : [fn] "r"(fn), [arg] "r"(arg)
        : "esi", "ecx", "edx", "memory", "cc");
    return result;
}

TEST_F(PluginTest, CallbacksSurviveAMisalignedStack) {
    InitInfo init{0, nullptr};
    CallMisaligned(reinterpret_cast<void*>(d->Init), &init);
    VideoFormat f{720, 576, 2, 0, 0};
    EXPECT_EQ(CallMisaligned(reinterpret_cast<void*>(d->FormatChange), &f), 1);
    std::vector<uint8_t> frame = Ramp(720 * 576 * 2);
    ChannelRecord channel(9, 0, "Aligned?");
    FrameInfo info{};
    info.pixels = frame.data();
    info.channel = channel.info();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CallMisaligned(reinterpret_cast<void*>(d->ProcessFrame), &info), 1);
    d->Free();
    d->Deinit();
}
#endif

}  // namespace
}  // namespace kvx
