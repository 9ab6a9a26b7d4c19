// kvx_dll_bench: times ProcessFrame of a plug-in file loaded through its two exports, as
// the TV application runs it: the 32-bit DLL under Wine, or the .so natively. Each SIMD
// level is the library's own, capped with KVX_SIMD_LEVEL before it loads; every timed call
// gets a frame written just before it. Prints one line per case and level:
//   FORMAT SIZE CASE LEVEL MICROSECONDS
// the median time per frame. The auto-fit cases ("FORMAT SIZE auto-fit") print two, the mean
// per frame at zoom 110 % with auto-fit off and on (CASE auto-fit-off, auto-fit-on), at the
// last level only. Its settings file is written where the plug-in reads it, and removed
// after each case.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "bench/bench_cases.h"
#include "host/live_fit.h"
#include "platform/host_environment.h"
#include "plugin/channel_record.h"
#include "plugin/plugin_loader.h"
#include "settings/settings_path.h"

namespace kvx {
namespace bench {
namespace {

const char kUsage[] =
    "usage: kvx_dll_bench PLUGIN [--only TEXT] [LEVEL...]\n"
    "       kvx_dll_bench --list\n"
    "Times ProcessFrame of PLUGIN (KVX_Scaler.dll or KVX_Scaler.so) at each LEVEL\n"
    "(portable, sse2, ssse3, avx2; default sse2 ssse3 avx2) for the cases of the table of\n"
    "targets and auto-fit's cost (FORMAT SIZE auto-fit: zoom 110 %, auto-fit off and on, at the\n"
    "last LEVEL), or only those whose name is TEXT or starts with TEXT and a space (\"YUY2\",\n"
    "\"YUY2 1920x1080 zoom110\"). --list prints the cases' names, one a line.\n"
    "A level the CPU lacks runs as the best one it has.\n";

// The settings file where the plug-in reads it at Init, found by the plug-in's own rules.
class SettingsFile {
public:
    explicit SettingsFile(const std::string& text)
        : path(ResolveSettingsPath(QueryHostEnvironment(), "KVX_Scaler")) {
        CreateFolderChain(path.substr(0, path.find_last_of("\\/") + 1));
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    ~SettingsFile() { std::remove(path.c_str()); }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

private:
    const std::string path;
};

void SetLevelCap(const char* level) {
#if defined(_WIN32)
    SetEnvironmentVariableA("KVX_SIMD_LEVEL", level);  // seen by the DLL's msvcrt getenv
    _putenv_s("KVX_SIMD_LEVEL", level);
#else
    setenv("KVX_SIMD_LEVEL", level, 1);
#endif
}

// The plug-in loaded with the SIMD level capped, initialised (its settings file written
// already) and told the frame format; null, said on standard error, when it does not load.
PluginDescriptor* StartSession(PluginLibrary& library, const std::string& plugin, const char* level,
                               const PixelFormat& f, const FrameSize& s) {
    SetLevelCap(level);
    std::string error;
    if (!library.Open(plugin, error)) {
        std::fprintf(stderr, "kvx_dll_bench: %s\n", error.c_str());
        return nullptr;
    }
    PluginDescriptor* d = library.Descriptor();
    InitInfo init{0, nullptr};
    d->Init(&init);
    VideoFormat format{s.width, s.height, f.bytesPerPixel, f.code, 0};
    d->FormatChange(&format);
    return d;
}

// The median time of one ProcessFrame, over at least 30 frames and a quarter of a second.
bool TimeCase(const std::string& plugin, const PixelFormat& f, const FrameSize& s,
              const ScaleCase& c, const char* level, double& micros) {
    SettingsFile settings(SettingsText(c));
    PluginLibrary library;
    PluginDescriptor* d = StartSession(library, plugin, level, f, s);
    if (!d) return false;
    const std::vector<uint8_t> pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    std::vector<uint8_t> frame = pristine;
    FrameInfo info{};
    info.pixels = frame.data();
    d->ProcessFrame(&info);  // buffers and tables are built on the first frame
    std::vector<double> times;
    double total = 0;
    using Clock = std::chrono::steady_clock;
    while (times.size() < 30 || total < 0.25) {
        std::memcpy(frame.data(), pristine.data(), frame.size());
        const Clock::time_point start = Clock::now();
        d->ProcessFrame(&info);
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        times.push_back(t);
        total += t;
    }
    d->Free();
    d->Deinit();
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    micros = times[times.size() / 2] * 1e6;
    return true;
}

// Auto-fit's cost: ProcessFrame at zoom 110 % on a full picture, channel 1 with auto-fit off
// and channel 2 with it on, in alternating blocks of frames in one session; the median of the
// blocks' mean time per frame with it off, and that plus the median difference between
// neighbouring blocks, which meet the same load on a shared machine. (The live fit samples
// one frame in eight of its channel's: a block holds whole periods, and a median over single
// frames would leave its work out.)
bool TimeAutoFit(const std::string& plugin, const PixelFormat& f, const FrameSize& s, const char* level,
                 double& offMicros, double& onMicros) {
    const ScaleCase& zoom = kCases[1];  // zoom110
    SettingsFile settings("[SETTINGS]\r\nCommon=0\r\n[COMMON]\r\n[1]\r\n" + SettingsLines(zoom) + "[2]\r\n" +
                          SettingsLines(zoom) + "AutoFit=1\r\n");
    PluginLibrary library;
    PluginDescriptor* d = StartSession(library, plugin, level, f, s);
    if (!d) return false;
    const std::vector<uint8_t> pristine = TestPicture(s.width, s.height, f.bytesPerPixel);
    std::vector<uint8_t> frame = pristine;
    ChannelRecord channels[2] = {ChannelRecord(1, 0, "off"), ChannelRecord(2, 0, "on")};
    FrameInfo info{};
    info.pixels = frame.data();
    using Clock = std::chrono::steady_clock;
    constexpr int kBlock = 4 * LiveFit::kSampleEvery;  // frames of one channel in a row
    std::vector<double> off, extra;  // per pair of blocks: the mean with auto-fit off, on minus off
    for (int block = 0; block < 66; ++block) {
        const int c = block % 2;
        info.channel = channels[c].info();
        double total = 0;
        for (int i = 0; i < kBlock; ++i) {
            std::memcpy(frame.data(), pristine.data(), frame.size());
            const Clock::time_point start = Clock::now();
            d->ProcessFrame(&info);
            total += std::chrono::duration<double>(Clock::now() - start).count();
        }
        // The first pair builds the buffers and tables: not counted.
        if (block < 2) continue;
        if (c == 0) off.push_back(total / kBlock);
        else extra.push_back(total / kBlock - off.back());
    }
    d->Free();
    d->Deinit();
    // Neighbouring blocks meet the same load: the median of their differences is the cost.
    std::nth_element(off.begin(), off.begin() + off.size() / 2, off.end());
    std::nth_element(extra.begin(), extra.begin() + extra.size() / 2, extra.end());
    offMicros = off[off.size() / 2] * 1e6;
    onMicros = offMicros + extra[extra.size() / 2] * 1e6;
    return true;
}

// Whole words only, so that "... zoom110" does not also select "... zoom110-interlaced".
bool Selected(const std::string& name, const std::string& only) {
    return only.empty() || name == only ||
           (name.compare(0, only.size(), only) == 0 && name[only.size()] == ' ');
}

int Main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const bool list = std::strcmp(argv[1], "--list") == 0;
    std::vector<std::string> levels;
    std::string only;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else levels.push_back(argv[i]);
    }
    if (levels.empty()) levels = {"sse2", "ssse3", "avx2"};
    for (const std::string& level : levels)
        if (level != "portable" && level != "sse2" && level != "ssse3" && level != "avx2") {
            std::fprintf(stderr, "kvx_dll_bench: unknown level '%s': use portable, sse2, ssse3 or avx2\n",
                         level.c_str());
            return 2;
        }
    bool any = false;
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes) {
            const std::string name = std::string(f.name) + " " + s.name + " auto-fit";
            if (!Selected(name, only)) continue;
            any = true;
            if (list) {
                std::printf("%s\n", name.c_str());
                continue;
            }
            const char* level = levels.back().c_str();
            double off = 0, on = 0;
            if (!TimeAutoFit(argv[1], f, s, level, off, on)) return 1;
            std::printf("%s %s auto-fit-off %s %.2f\n%s %s auto-fit-on %s %.2f\n", f.name, s.name, level, off, f.name,
                        s.name, level, on);
            std::fflush(stdout);
        }
    for (const PixelFormat& f : kFormats)
        for (const FrameSize& s : kSizes)
            for (const ScaleCase& c : kCases) {
                if (!c.libraryEquivalent) continue;
                const std::string name = std::string(f.name) + " " + s.name + " " + c.name;
                if (!Selected(name, only)) continue;
                any = true;
                if (list) {
                    std::printf("%s\n", name.c_str());
                    continue;
                }
                for (const std::string& level : levels) {
                    double micros = 0;
                    if (!TimeCase(argv[1], f, s, c, level.c_str(), micros)) return 1;
                    std::printf("%s %s %.1f\n", name.c_str(), level.c_str(), micros);
                    std::fflush(stdout);
                }
            }
    if (!any) {
        std::fprintf(stderr, "kvx_dll_bench: no case is named '%s': see kvx_dll_bench --list\n",
                     only.c_str());
        return 2;
    }
    return 0;
}

}  // namespace
}  // namespace bench
}  // namespace kvx

int main(int argc, char** argv) { return kvx::bench::Main(argc, argv); }
