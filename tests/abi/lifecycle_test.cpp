// Load, run and unload, over and over, as a host does across channel changes and restarts:
// every unload really unloads, nothing leaks (LeakSanitizer watches the ASan build), the
// resident memory stays flat, and under Windows the dialog leaves no window or hook behind.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "hostile_support.h"
#include "plugin_fixture.h"

namespace kvx {
namespace {

// Per-channel mode: every channel gets its own profile, seeded by DEFAULT with processing on.
const char kPerChannelSettings[] =
    "[SETTINGS]\r\nCommon=0\r\n[DEFAULT]\r\nProcEnable=1\r\nOffsetX=10\r\nOffsetY=-20\r\n"
    "ScaleX=900\r\nScaleY=1100\r\nKeepAspect=0\r\nInterlace=1\r\nDeinterlace=1\r\n";

// The host forgets every channel from 40 on, so each save also drops profiles.
int32_t KVX_CDECL KnownChannel(uint32_t keyLow, uint32_t) { return keyLow < 40; }

#if !defined(_WIN32)

// One host session: Init, frames of several formats across many channels, Deinit. Odd
// sessions skip the Free calls, which the plug-in must not depend on.
void RunSession(PluginDescriptor* d, int session, std::vector<Picture>& pictures) {
    InitInfo init{0, KnownChannel};
    d->Init(&init);
    std::vector<ChannelRecord> channels;
    for (uint32_t k = 0; k < 48; ++k) channels.emplace_back(k, session % 2, "Channel " + std::to_string(k));
    for (Picture& picture : pictures) {
        VideoFormat format = picture.format;
        EXPECT_EQ(d->FormatChange(&format), 1);
        for (int frame = 0; frame < 150; ++frame) {
            FrameInfo info{};
            info.pixels = picture.bytes.data();
            info.channel = channels[(frame * 7 + session) % channels.size()].info();
            EXPECT_EQ(d->ProcessFrame(&info), 1);
        }
        if (session % 2 == 0) d->Free();
    }
    d->ShowSettings(nullptr);
    d->Deinit();
}

std::vector<Picture> SessionPictures() {
    return {Picture({360, 290, 2, 0, 0}), Picture({352, 288, 3, 1, 0}), Picture({176, 144, 2, 0, 0}),
            Picture({161, 300, 3, 1, 0})};
}

long ResidentBytes() {
    long size = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

TEST(Lifecycle, LoadRunUnloadCyclesStartFreshAndLeaveNothingBehind) {
    SettingsFileScope settings(kPerChannelSettings);
    std::vector<Picture> pictures = SessionPictures();
    const std::string path = PluginPath();
    std::vector<long> resident;
    for (int cycle = 0; cycle < 8; ++cycle) {
        {
            PluginLibrary library;
            std::string error;
            ASSERT_TRUE(library.Open(path, error)) << error;
            RunSession(library.Descriptor(), cycle, pictures);
        }
        // Really gone: the next load builds every object anew.
        void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(still, nullptr) << "the plug-in stayed loaded after dlclose";
        if (still) dlclose(still);
        resident.push_back(ResidentBytes());
    }
    std::string text;
    ASSERT_TRUE(ReadWholeFile(SettingsFilePath(), &text));
    EXPECT_NE(text.find("[39]"), std::string::npos);
    EXPECT_EQ(text.find("[40]"), std::string::npos);  // forgotten by the host
    // Sanitizers keep freed memory in quarantine and valgrind keeps every unloaded
    // library's debug information: there the growth is theirs.
    const char* preload = std::getenv("LD_PRELOAD");
    const bool valgrind = preload && std::strstr(preload, "vgpreload");
    if (AddressSpaceSqueeze::Available() && !valgrind) {
        // The first cycles settle the allocator; after that nothing may grow.
        EXPECT_LE(resident.back(), resident[2] + (256 << 10))
            << "resident memory grew from " << resident[2] << " to " << resident.back() << " bytes";
    }
}

#else

// A window of the host's own for the dialog to belong to.
struct HostWindowScope {
    HWND window = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ~HostWindowScope() {
        if (window) DestroyWindow(window);
    }
};

void PumpMessages(int milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (static_cast<int32_t>(GetTickCount() - end) < 0);
}

HWND ThreadDialog() { return static_cast<HWND>(FindThreadDialog()); }

// Each cycle opens the dialog and ends it another way: the user's close, Deinit, or an
// unload with the window still open. After every unload the thread's messages (keyboard
// ones included, which a stale hook would see) must still flow, and the next load must
// open the dialog again.
TEST(Lifecycle, LoadLibraryCyclesWithTheDialogOpenedAndClosed) {
    SettingsFileScope settings(kPerChannelSettings);
    std::vector<Picture> pictures = {Picture({176, 144, 2, 0, 0}), Picture({352, 290, 3, 1, 0})};
    HostWindowScope host;
    // Without a display Wine creates no windows; ctest runs this again under xvfb-run.
    if (!host.window) GTEST_SKIP() << "no window system";
    const std::string path = PluginPath();
    for (int cycle = 0; cycle < 6; ++cycle) {
        {
            PluginLibrary library;
            std::string error;
            ASSERT_TRUE(library.Open(path, error)) << error;
            PluginDescriptor* d = library.Descriptor();
            InitInfo init{0, KnownChannel};
            d->Init(&init);
            HostWindow owner = host.window;
            d->ShowSettings(&owner);
            PumpMessages(50);
            HWND dialog = ThreadDialog();
            ASSERT_NE(dialog, nullptr) << "cycle " << cycle << ": the dialog did not open";
            EXPECT_EQ(GetWindow(dialog, GW_OWNER), host.window);
            for (Picture& picture : pictures) {
                VideoFormat format = picture.format;
                d->FormatChange(&format);
                ChannelRecord channel(cycle, 0, "Cycle");
                FrameInfo info{};
                info.pixels = picture.bytes.data();
                info.channel = channel.info();
                for (int frame = 0; frame < 20; ++frame) EXPECT_EQ(d->ProcessFrame(&info), 1);
                d->Free();
            }
            PumpMessages(20);
            switch (cycle % 3) {
            case 0:  // the user closes it, then the host ends normally
                PostMessageA(dialog, WM_CLOSE, 0, 0);
                PumpMessages(50);
                EXPECT_EQ(ThreadDialog(), nullptr);
                d->Deinit();
                break;
            case 1:  // Deinit closes it
                d->Deinit();
                EXPECT_EQ(ThreadDialog(), nullptr);
                break;
            default:  // unloaded with the window still open, without Deinit
                break;
            }
        }
        EXPECT_EQ(GetModuleHandleA("KVX_Scaler.dll"), nullptr) << "cycle " << cycle;
        EXPECT_EQ(ThreadDialog(), nullptr) << "cycle " << cycle << ": a window outlived the library";
        PostMessageA(host.window, WM_KEYDOWN, VK_TAB, 0);
        PostMessageA(host.window, WM_CHAR, 'a', 0);
        PumpMessages(30);
    }
}

#endif

}  // namespace
}  // namespace kvx
