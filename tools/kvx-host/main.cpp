// kvx-host: the reference host. Loads a plug-in through its two exports and drives it as the
// TV application does: Init, FormatChange, ProcessFrame for every frame, Free, Deinit.
#include <cctype>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "channel_record.h"
#include "detect_mode.h"
#include "frame_image.h"
#include "plugin_loader.h"
#include "progress_line.h"
#include "settings_options.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

const char kUsage[] =
    "usage: kvx-host --plugin FILE --size WxH [--format yuyv|bgr24] [options]\n"
    "\n"
    "Loads a KVX_Scaler-style plug-in and runs frames through it exactly as the TV\n"
    "application does (Init, FormatChange, ProcessFrame..., Free, Deinit).\n"
    "\n"
    "  --plugin FILE        the plug-in library (KVX_Scaler.dll / KVX_Scaler.so)\n"
    "  --size WxH           frame size in pixels\n"
    "  --format F           yuyv (packed 4:2:2, default) or bgr24 (raw bgr24 is top-down\n"
    "                       in files and pipes; it is flipped to the host's bottom-up rows)\n"
    "  --input FILE         raw frames to read (default: standard input)\n"
    "  --output FILE        where to write the processed raw frames (default: standard\n"
    "                       output; '-' too; 'none' writes nothing)\n"
    "  --pattern            use the built-in test pattern instead of an input\n"
    "  --frames N           number of pattern frames (default 1), or at most N input frames\n"
    "  --compare FILE       PNG of the last frame, before and after, side by side\n"
    "                       (--png FILE is the same)\n"
    "  --quiet              no progress line (it is shown only on a terminal anyway)\n"
    "  --stats              print the frames processed per second at the end\n"
    "  --channel KEY[:NAME][@FRAME]\n"
    "                       the channel shown (64-bit key, name), from frame FRAME on\n"
    "                       (default 0); repeat to switch channels during the run\n"
    "  --forget-channels    the host answers that it knows no channel when the plug-in\n"
    "                       saves its settings (default: it knows the --channel keys)\n"
    "  /inst:X, -inst:X     left on the command line for the plug-in (settings instance)\n"
    "  --help               this text\n"
    "\n"
    "Finding the settings that fill the screen with the picture inside black borders:\n"
    "  --detect             read the input (all of a short one, an even spread of a long\n"
    "                       one), find the picture's rectangle and print it with the\n"
    "                       settings and the options that make it fill the frame; no\n"
    "                       frames are written. \"no border found\" changes nothing\n"
    "  --fit fill|aspect    fill: ScaleX and ScaleY separately, the picture covers the frame\n"
    "                       exactly (default); aspect: one scale (KeepAspect on), the\n"
    "                       excess cut evenly\n"
    "  --trim P             cut P per cent of the picture more on every side (noisy\n"
    "                       overscan lines at the picture's edge)\n"
    "  --settings FILE      with --detect: the settings file whose Interlace the fit\n"
    "                       follows, and where --save writes\n"
    "  --save               with --detect: write the suggestion into FILE, to the record of\n"
    "                       --channel KEY when FILE keeps settings per channel, else to\n"
    "                       [COMMON]\n"
    "  --compare FILE       with --detect: the last sampled frame before and after the\n"
    "                       suggested settings\n"
    "\n";

struct ChannelSwitch {
    long long fromFrame;
    unsigned long long key;
    std::string name;
};

struct Options {
    std::string plugin, input, output = "-", png;
    FrameGeometry geometry;
    bool pattern = false, forgetChannels = false;
    long long frames = -1;
    std::vector<ChannelSwitch> channels;
    std::vector<SettingEdit> settings;
    bool quiet = false, stats = false;
    bool detect = false, save = false, channelGiven = false;
    FitMode fit = FitMode::Fill;
    int32_t trim = 0;
    std::string settingsFile;
};

std::set<unsigned long long> g_knownChannels;
bool g_forgetChannels = false;

int32_t KVX_CDECL ChannelCheck(uint32_t keyLow, uint32_t keyHigh) {
    unsigned long long key = (static_cast<unsigned long long>(keyHigh) << 32) | keyLow;
    return !g_forgetChannels && g_knownChannels.count(key) ? 1 : 0;
}

long long FileSize(FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return -1;
    long long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    return size;
}

[[noreturn]] void Fail(int code, const std::string& message) {
    std::fprintf(stderr, "kvx-host: %s\n", message.c_str());
    std::exit(code);
}

// "/inst:X" or "-inst:X" in any case: the plug-in reads it from the process command line.
bool IsInstanceSwitch(const std::string& arg) {
    std::string head = arg.substr(0, 6);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return head == "/inst:" || head == "-inst:";
}

bool ParseChannel(const std::string& text, ChannelSwitch& out) {
    std::string rest = text;
    out.fromFrame = 0;
    size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        char* end = nullptr;
        out.fromFrame = std::strtoll(rest.c_str() + at + 1, &end, 10);
        if (*end || out.fromFrame < 0) return false;
        rest.erase(at);
    }
    size_t colon = rest.find(':');
    std::string key = rest.substr(0, colon);
    out.name = colon == std::string::npos ? "" : rest.substr(colon + 1);
    char* end = nullptr;
    // Keys are signed in the settings file; accept both spellings of the 64 bits.
    out.key = key[0] == '-' ? static_cast<unsigned long long>(std::strtoll(key.c_str(), &end, 10))
                            : std::strtoull(key.c_str(), &end, 10);
    return !key.empty() && !*end;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    bool haveSize = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(2, "option " + a + " needs a value");
            return argv[++i];
        };
        std::string settingError;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kSettingOptionsHelp, stdout);
            std::exit(0);
        } else if (i + 1 < argc && ParseSettingOption(a, argv[i + 1], o.settings, settingError)) {
            if (!settingError.empty()) Fail(2, settingError);
            ++i;
        } else if (a == "--plugin") {
            o.plugin = value();
        } else if (a == "--size") {
            std::string v = value();
            int w = 0, h = 0;
            char extra = 0;
            if (std::sscanf(v.c_str(), "%dx%d%c", &w, &h, &extra) != 2 || w <= 0 || h <= 0)
                Fail(2, "bad --size " + v + " (expected WxH)");
            o.geometry.width = w;
            o.geometry.height = h;
            haveSize = true;
        } else if (a == "--format") {
            std::string v = value();
            if (v == "yuyv" || v == "yuyv422") o.geometry.format = HostFormat::Yuyv;
            else if (v == "bgr24") o.geometry.format = HostFormat::Bgr24;
            else Fail(2, "unknown --format " + v + " (yuyv or bgr24)");
        } else if (a == "--input") {
            o.input = value();
        } else if (a == "--output") {
            o.output = value();
        } else if (a == "--pattern") {
            o.pattern = true;
        } else if (a == "--frames") {
            o.frames = std::atoll(value().c_str());
            if (o.frames < 0) Fail(2, "bad --frames");
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--stats") {
            o.stats = true;
        } else if (a == "--png" || a == "--compare") {
            o.png = value();
        } else if (a == "--channel") {
            ChannelSwitch c;
            std::string v = value();
            if (!ParseChannel(v, c)) Fail(2, "bad --channel " + v + " (expected KEY[:NAME][@FRAME])");
            o.channels.push_back(c);
        } else if (a == "--detect") {
            o.detect = true;
        } else if (a == "--fit") {
            std::string v = value();
            if (v == "fill") o.fit = FitMode::Fill;
            else if (v == "aspect") o.fit = FitMode::Aspect;
            else Fail(2, "unknown --fit " + v + " (fill or aspect)");
        } else if (a == "--trim") {
            std::string v = value();
            char* end = nullptr;
            double percent = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(percent >= 0 && percent <= 25))
                Fail(2, "bad --trim " + v + " (per cent of the picture, 0 to 25, e.g. 1.5)");
            o.trim = static_cast<int32_t>(std::lround(percent * 10));
        } else if (a == "--settings") {
            o.settingsFile = value();
        } else if (a == "--save") {
            o.save = true;
        } else if (a == "--forget-channels") {
            o.forgetChannels = true;
        } else if (IsInstanceSwitch(a)) {
            // Read by the plug-in from the process command line.
        } else {
            Fail(2, "unknown option " + a + " (see --help)");
        }
    }
    if (o.plugin.empty()) Fail(2, "--plugin FILE is required (see --help)");
    if (!haveSize) Fail(2, "--size WxH is required (see --help)");
    if (o.pattern && !o.input.empty()) Fail(2, "--pattern and --input exclude each other");
    if (o.pattern && o.frames < 0) o.frames = 1;
    if (o.detect && o.pattern) Fail(2, "--detect needs an input (--input FILE or a pipe), not --pattern");
    if (!o.detect && (o.save || !o.settingsFile.empty() || o.trim || o.fit != FitMode::Fill))
        Fail(2, "--fit, --trim, --settings and --save go with --detect");
    if (o.save && o.settingsFile.empty()) Fail(2, "--save needs --settings FILE to write to");
    o.channelGiven = !o.channels.empty();
    if (o.channels.empty()) o.channels.push_back({0, 1, "Channel 1"});
    return o;
}

void Show(ChannelRecord& channel, const ChannelSwitch& c) {
    channel.Set(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
}

int Detect(const Options& o);

int Run(const Options& o) {
    if (o.detect) return Detect(o);
    PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(o.plugin, error)) Fail(1, error);
    if (!o.settings.empty()) {
        // Written before Init, which is when the plug-in reads the file.
        std::string path = WriteSettingEdits(o.plugin, o.settings, o.channels.front().key);
        if (path.empty()) Fail(1, "the plug-in has no settings file to write the settings to");
    }
    PluginDescriptor* d = plugin.Descriptor();

    const FrameGeometry& g = o.geometry;
    const size_t frameBytes = g.FrameBytes();
    FILE* in = nullptr;
    if (!o.pattern) {
        in = o.input.empty() || o.input == "-" ? stdin : std::fopen(o.input.c_str(), "rb");
        if (!in) Fail(1, "cannot open input " + o.input);
    }
    FILE* out = nullptr;
    if (o.output != "none") {
        out = o.output == "-" ? stdout : std::fopen(o.output.c_str(), "wb");
        if (!out) Fail(1, "cannot create output " + o.output);
    }

    for (const ChannelSwitch& c : o.channels) g_knownChannels.insert(c.key);
    g_forgetChannels = o.forgetChannels;
    InitInfo init{0, ChannelCheck};
    d->Init(&init);
    VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
    d->FormatChange(&format);

    std::vector<uint8_t> frame(frameBytes), before;
    ChannelRecord channel;
    FrameInfo info{};
    long long index = 0;
    int status = 0;
    long long expected = o.frames;
    if (in && in != stdin) {
        long long bytes = FileSize(in);
        if (bytes >= 0 && (expected < 0 || bytes / static_cast<long long>(frameBytes) < expected))
            expected = bytes / static_cast<long long>(frameBytes);
    }
    ProgressLine progress(!o.quiet, expected);
    double processSeconds = 0;
    for (; o.frames < 0 || index < o.frames; ++index) {
        if (o.pattern) {
            frame = MakeTestPattern(g, static_cast<int>(index));
        } else {
            size_t got = std::fread(frame.data(), 1, frameBytes, in);
            if (got == 0) break;
            if (got != frameBytes) {
                std::fprintf(stderr, "kvx-host: input ends inside frame %lld (%zu of %zu bytes): "
                             "is the size %dx%d and format right?\n", index, got, frameBytes,
                             g.width, g.height);
                status = 1;
                break;
            }
            if (g.format == HostFormat::Bgr24) FlipRows(frame, g);
        }
        for (const ChannelSwitch& c : o.channels)
            if (c.fromFrame == index) Show(channel, c);
        if (channel.Empty()) Show(channel, o.channels.front());
        if (!o.png.empty()) before = frame;
        info.pixels = frame.data();
        info.channel = channel.info();
        auto started = std::chrono::steady_clock::now();
        d->ProcessFrame(&info);
        processSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        progress.Update(index + 1);
        if (out) {
            if (g.format == HostFormat::Bgr24) FlipRows(frame, g);
            if (std::fwrite(frame.data(), 1, frameBytes, out) != frameBytes) {
                std::fprintf(stderr, "kvx-host: cannot write output\n");
                status = 1;
                break;
            }
            if (g.format == HostFormat::Bgr24) FlipRows(frame, g);
        }
    }
    progress.Finish(index);
    if (o.stats && index > 0)
        std::fprintf(stderr, "kvx-host: %lld frames, ProcessFrame %.3f ms per frame (%.0f frames per second)\n",
                     index, 1000.0 * processSeconds / index, processSeconds > 0 ? index / processSeconds : 0.0);
    d->Free();
    d->Deinit();

    if (!o.png.empty() && index > 0 && status == 0) {
        if (!WriteSideBySidePng(o.png, {ToRgb(before, g), ToRgb(frame, g)}, g.width, g.height))
            Fail(1, "cannot write " + o.png);
    }
    if (out && out != stdout) std::fclose(out);
    if (in && in != stdin) std::fclose(in);
    if (out == stdout) std::fflush(stdout);
    return status;
}


// Frames taller than this are scaled field by field when Interlace is on.
constexpr int32_t kInterlaceMinHeight = 289;

// The settings the suggestion is made for: FILE's (the record of the channel when it keeps
// settings per channel) or the built-in defaults, with the run's setting options on top.
bool LoadDetectSettings(const Options& o, SettingsStore& store, ChannelProfile& settings) {
    store.LoadFile(o.settingsFile, 0, nullptr);  // no channel check: every record is kept
    if (store.IsPerChannel()) {
        if (!o.channelGiven)
            Fail(2, "the settings file " + o.settingsFile + " keeps settings per channel: name the "
                    "channel with --channel KEY");
        const unsigned long long key = o.channels.front().key;
        store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    }
    settings = store.Current();
    for (const SettingEdit& e : o.settings)
        if (e.field == SettingEdit::Interlace) settings.interlace = e.value;
    return store.IsPerChannel();
}

// Writes the suggestion through the plug-in's own settings code (its atomic save), then
// reads the file back to make sure it holds it.
void SaveSuggestion(const Options& o, SettingsStore& store, const FitResult& fit) {
    store.EditCurrent([&](ChannelProfile& p) {
        p.procEnable = 1;
        p.scaleX = fit.scaleX;
        p.scaleY = fit.scaleY;
        p.offsetX = fit.offsetX;
        p.offsetY = fit.offsetY;
        p.keepAspect = fit.keepAspect ? 1 : 0;
    });
    store.Save();
    SettingsStore check;
    ChannelProfile saved;
    const bool perChannel = LoadDetectSettings(o, check, saved);
    if (saved.scaleX != fit.scaleX || saved.scaleY != fit.scaleY || saved.offsetX != fit.offsetX ||
        saved.offsetY != fit.offsetY || !saved.procEnable)
        Fail(1, "cannot write the settings file " + o.settingsFile +
                ": check that its folder exists and is writable; nothing was saved");
    std::printf("saved      to %s, %s\n", o.settingsFile.c_str(),
                perChannel ? ("the record of channel " + std::to_string(static_cast<long long>(
                                  o.channels.front().key))).c_str()
                           : "[COMMON] (the file keeps one set for all channels)");
}

// The last sampled frame before and after the suggestion, processed by the plug-in.
void CompareSuggestion(const Options& o, const FitResult& fit, const std::vector<uint8_t>& before,
                       const ChannelProfile& settings) {
    PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(o.plugin, error)) Fail(1, error);
    std::vector<SettingEdit> edits = SuggestedEdits(fit);
    edits.push_back({SettingEdit::Interlace, static_cast<int32_t>(settings.interlace)});
    edits.push_back({SettingEdit::Deinterlace, static_cast<int32_t>(settings.deinterlace)});
    if (WriteSettingEdits(o.plugin, edits, o.channels.front().key).empty())
        Fail(1, "the plug-in has no settings file to write the settings to");
    PluginDescriptor* d = plugin.Descriptor();
    const FrameGeometry& g = o.geometry;
    g_knownChannels.insert(o.channels.front().key);
    InitInfo init{0, ChannelCheck};
    d->Init(&init);
    VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
    d->FormatChange(&format);
    std::vector<uint8_t> after = before;
    ChannelRecord channel;
    Show(channel, o.channels.front());
    FrameInfo info{};
    info.pixels = after.data();
    info.channel = channel.info();
    d->ProcessFrame(&info);
    d->Free();
    d->Deinit();
    if (!WriteSideBySidePng(o.png, {ToRgb(before, g), ToRgb(after, g)}, g.width, g.height))
        Fail(1, "cannot write " + o.png);
}

int Detect(const Options& o) {
    const FrameGeometry& g = o.geometry;
    if (g.format == HostFormat::Yuyv && g.width % 2)
        Fail(2, "yuyv frames have an even width (two pixels share their colour): use --size " +
                    std::to_string(g.width + 1) + "x" + std::to_string(g.height) + " if ffmpeg padded it");
    SettingsStore store;
    ChannelProfile settings;
    LoadDetectSettings(o, store, settings);

    FILE* in = o.input.empty() || o.input == "-" ? stdin : std::fopen(o.input.c_str(), "rb");
    if (!in) Fail(1, "cannot open input " + o.input);
    std::unique_ptr<FrameSource> source = MakeRawSource(in, in != stdin, g, o.frames);
    BorderSample sample;
    std::string error;
    if (!SampleBorders(*source, g, !o.quiet, sample, error)) Fail(1, error);

    FitRequest request;
    request.mode = o.fit;
    request.trim = o.trim;
    request.interlaced = settings.interlace && g.height >= kInterlaceMinHeight;
    FitResult fit;
    if (sample.border.verdict == BorderVerdict::Found)
        fit = FitSettings(g.width, g.height, sample.border.picture, request);
    std::fputs(DescribeDetection(g, sample.border, request, fit).c_str(), stdout);
    if (!fit.ok) {
        if (o.save) std::printf("nothing saved\n");
        if (!o.png.empty()) std::fprintf(stderr, "kvx-host: no suggestion, so no picture written to %s\n", o.png.c_str());
        return 0;
    }
    std::fflush(stdout);
    if (fit.scaleX > 1300 || fit.scaleY > 1300)
        std::fprintf(stderr, "kvx-host: warning: a scale over 130 %% is beyond the settings dialog's range; "
                             "the plug-in applies it as it stands\n");
    if (o.save) SaveSuggestion(o, store, fit);
    if (!o.png.empty()) CompareSuggestion(o, fit, sample.lastFrame, settings);
    std::fflush(stdout);
    return 0;
}

}  // namespace
}  // namespace kvx

int main(int argc, char** argv) {
#if defined(_WIN32)
    // msvcrt opens the standard streams in text mode; frames are binary.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return kvx::Run(kvx::ParseOptions(argc, argv));
}
