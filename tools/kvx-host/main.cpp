// kvx-host: the reference host. Loads a plug-in through its two exports and drives it as the
// TV application does: Init, FormatChange, ProcessFrame for every frame, Free, Deinit.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "channel_record.h"
#include "console_text.h"
#include "detect_mode.h"
#include "files.h"
#include "frame_image.h"
#include "frame_source.h"
#include "host/plugin_state.h"
#include "options.h"
#include "platform/module.h"
#include "plugin_loader.h"
#include "progress_line.h"
#include "platform/host_environment.h"
#include "private_run.h"
#include "settings/settings_path.h"
#include "settings/settings_store.h"
#include "settings_options.h"
#include "video_files.h"

#ifndef KVX_VERSION
#define KVX_VERSION "unknown"
#endif

namespace kvx {
namespace {

// The most memory one frame may take (a 16K frame of YUY2 fits); larger sizes are refused
// before anything is allocated.
constexpr size_t kMaxFrameBytes = size_t{256} << 20;

std::set<uint64_t> g_knownChannels;
bool g_forgetChannels = false;

int32_t KVX_CDECL ChannelCheck(uint32_t keyLow, uint32_t keyHigh) {
    uint64_t key = (static_cast<uint64_t>(keyHigh) << 32) | keyLow;
    return !g_forgetChannels && g_knownChannels.count(key) ? 1 : 0;
}

void CheckGeometry(const FrameGeometry& g) {
    if (g.format == HostFormat::Yuyv && g.width % 2 != 0)
        throw UsageError("width " + std::to_string(g.width) +
                         " is odd: YUY2 frames hold pixels in pairs (ffmpeg pads such rows, so "
                         "they would be misread); use --format bgr24, or crop or scale to an even "
                         "width first, e.g. ffmpeg -vf crop=" + std::to_string(g.width - 1) + ":" +
                         std::to_string(g.height) + ":0:0");
    if (g.FrameBytes() > kMaxFrameBytes)
        throw UsageError("frames of " + std::to_string(g.width) + "x" + std::to_string(g.height) + " would take " +
                         std::to_string(g.FrameBytes() >> 20) + " MiB each; kvx-host takes frames of at most " +
                         std::to_string(kMaxFrameBytes >> 20) + " MiB");
}

// Checks the combination of options once they are all known.
void CheckOptions(Options& o) {
    if (o.plugin.empty()) throw UsageError("--plugin FILE is required (see --help)");
    if (o.settings.save && o.settings.file.empty())
        throw UsageError("--save writes back to the --settings FILE: give --settings FILE too");
    if (o.pattern && !o.input.empty()) throw UsageError("--pattern and --input exclude each other");
    if (o.fitGiven && !o.detect) throw UsageError("--fit and --trim go with --detect");
    if (o.detect) {
        if (o.pattern) throw UsageError("--detect needs a recording (IN, --input FILE or a pipe), not --pattern");
        if (!o.output.empty()) throw UsageError("--detect writes no frames: leave out --output");
        if (o.files.size() > 1) throw UsageError("--detect reads one recording: give IN alone, without OUT");
        if (o.files.size() == 1) {
            if (!o.input.empty()) throw UsageError("IN takes the place of --input: give one or the other");
            (IsRawFileName(o.files[0]) || o.files[0] == "-" ? o.input : o.videoIn) = o.files[0];
            o.files.clear();
        }
        if (o.videoIn.empty() && o.input.empty()) o.input = "-";
        o.output = "none";
    }
    if (!o.files.empty()) {
        if (o.files.size() != 2) throw UsageError("give both IN and OUT (OUT may be 'none'), e.g. kvx-host --plugin P in.ts out.mp4");
        if (o.pattern || !o.input.empty() || !o.output.empty())
            throw UsageError("IN OUT take the place of --pattern, --input and --output: give one or the other");
        const std::string &in = o.files[0], &out = o.files[1];
        if (in == out) throw UsageError("IN and OUT are the same file " + in);
        (IsRawFileName(in) || in == "-" ? o.input : o.videoIn) = in;
        (IsRawFileName(out) || out == "-" || out == "none" ? o.output : o.videoOut) = out;
        if (!o.videoOut.empty() && o.videoIn.empty())
            throw UsageError("a video OUT takes its frame rate and audio from a video IN; for raw frames in, "
                             "pipe them into ffmpeg yourself (see --help)");
        if (!o.videoOut.empty()) o.output = "none";  // no raw output beside the encoder
    }
    // --show-settings and --save without anything about frames (not even --size for frames on
    // standard input) work on the settings only.
    const bool framesWanted = o.pattern || !o.input.empty() || !o.output.empty() || !o.png.empty() ||
                              o.stats || !o.videoIn.empty() || o.haveSize || !(o.showSettings || o.settings.save);
    if (!framesWanted) return;
    if (!o.videoIn.empty()) {
        if (o.haveSize) throw UsageError("--size is read from the video IN; leave it out");
        if (o.output.empty()) o.output = "none";
        o.input = "-";  // marks that frames are wanted; they come from the decoder
        return;
    }
    if (!o.haveSize) throw UsageError("--size WxH is required for raw frames and the pattern (see --help)");
    CheckGeometry(o.geometry);
    if (o.pattern && o.frames < 0) o.frames = 1;
    if (o.output.empty()) o.output = "-";
    if (o.input.empty()) o.input = "-";
}

bool FramesWanted(const Options& o) { return !o.input.empty(); }

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of("/\\") + 1); }

// The channels the settings file at `path` has records for, read by the plug-in's own
// settings code: the run's channel check answers yes for each, so the plug-in keeps them all.
void AddChannelsOfFile(const std::string& path, std::set<uint64_t>& keys) {
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    for (ChannelKey key : store.ChannelKeys()) keys.insert(key);
}

// Applies `request` to the settings file the plug-in will read, with the plug-in's own
// settings code, and reads it back: a request the file did not take is an error, never a
// silent default. Returns the settings now in effect for channel `key`.
std::string StoreSettings(const std::string& pluginPath, const SettingRequest& request, uint64_t key) {
    SettingsStore store;
    store.LoadFile(pluginPath, 0, nullptr);  // no channel check: every record is kept
    ApplySettingEdits(store, request, key);
    store.Save();
    SettingsStore check;
    check.LoadFile(pluginPath, 0, nullptr);
    const std::string wanted = DescribeSettings(store, key), got = DescribeSettings(check, key);
    if (wanted != got)
        throw RunError("the settings could not be stored in the private folder's " + PluginPathToUtf8(pluginPath));
    return got;
}

// What the run keeps of --settings FILE to save it back at the end.
struct SettingsFile {
    std::string pluginPath;  // the file the plug-in reads, inside the private folder, in its terms
    std::string ownPath;     // the same file for kvx-host's own file calls (UTF-8)
    std::string original;    // FILE's bytes as they were
    bool existed = false;
};

// Puts the settings the run starts from where the plug-in will look for them (in the private
// folder): the --settings FILE, or nothing for the built-in defaults; then applies the setting
// options with the plug-in's own settings code.
SettingsFile PrepareSettings(const Options& o, const std::string& folder, uint64_t key) {
    SettingsFile s;
    // The plug-in names its settings file after its own file, as the ANSI call gives it. A
    // name that call cannot spell leaves it no settings file it could find: a run that needs
    // one is refused rather than run with the defaults.
    std::string baseName;
    const bool storesSettings = !o.settings.edits.empty() || o.settings.perChannel >= 0 || o.showSettings;
    const bool settingsUsed = storesSettings || !o.settings.file.empty() || o.detect;
    if (!Utf8ToPluginPath(FileBaseName(o.plugin), baseName) && settingsUsed)
        throw RunError("the plug-in's file name " + o.plugin.substr(o.plugin.find_last_of("/\\") + 1) +
                       " has letters the system's code page cannot spell, so the plug-in could not find "
                       "its settings file; rename it (e.g. KVX_Scaler.dll)");
    s.pluginPath = ResolveSettingsPath(QueryHostEnvironment(), baseName);
    if (s.pluginPath.empty())
        throw RunError("cannot tell where the plug-in would keep its settings (the system gives no program path)");
    s.ownPath = PluginPathToUtf8(s.pluginPath);
    if (!PathIsInside(s.pluginPath, folder))
        throw RunError("the machine-wide switch StoreInUsersFolder (HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvanta) is on, "
                       "so the plug-in would use " + s.ownPath + ", the file the TV application uses and "
                       "every run would share; kvx-host does not touch it. Set the switch to 0 while using "
                       "kvx-host (reg add HKLM\\SOFTWARE\\Korvanta /v StoreInUsersFolder /t REG_DWORD /d 0 /f), "
                       "or use kvx-host on another computer");
    const std::string& file = o.settings.file;
    if (!file.empty()) {
        s.existed = FileExists(file);
        if ((s.existed || !o.settings.save) && !ReadWholeFile(file, s.original))
            throw RunError("cannot read settings file " + file + ": " + SystemErrorText() +
                           (o.settings.save ? "" : " (to make a new one, add --save)"));
        std::string error;
        if (o.settings.save && !CanCreateBeside(file, error))
            throw RunError("cannot save to " + file + ": " + error + "; choose a --settings FILE in a folder you can write");
        CreateFolderChain(FolderOf(s.pluginPath));
        if (s.existed) {
            if (!WriteFileAtomically(s.ownPath, s.original, error)) throw RunError(error);
            AddChannelsOfFile(s.pluginPath, g_knownChannels);
        }
    }
    if (storesSettings) {
        const std::string got = StoreSettings(s.pluginPath, o.settings, key);
        if (o.showSettings)
            PutText(o.output == "-" ? stderr : stdout, got);  // stdout may carry the frames
    }
    return s;
}

// --save: the plug-in's saved file goes back to FILE in one step, only when it differs.
void SaveSettingsBack(const Options& o, const SettingsFile& s) {
    std::string saved, error;
    if (!ReadWholeFile(s.ownPath, saved)) throw RunError("the plug-in saved no settings file; " + o.settings.file + " is left as it was");
    if (s.existed && saved == s.original) return;
    if (!WriteFileAtomically(o.settings.file, saved, error)) throw RunError(error + "; " + o.settings.file + " is left as it was");
}

FILE* OpenInput(const std::string& name) {
    if (name == "-") {
        if (IsTerminal(stdin))
            throw UsageError("will not read raw frames from a terminal: give --input FILE, pipe frames in "
                             "(ffmpeg -i IN -f rawvideo -pix_fmt yuyv422 - | kvx-host ...), or use --pattern");
        return stdin;
    }
    FILE* f = OpenFile(name, "rb");
    if (!f) throw RunError("cannot open input " + name + ": " + SystemErrorText());
    return f;
}

FILE* OpenOutput(const std::string& name) {
    if (name == "none") return nullptr;
    if (name == "-") {
        if (IsTerminal(stdout))
            throw UsageError("will not write raw frames to a terminal: give --output FILE, --output none, "
                             "or pipe them on (... | ffmpeg -f rawvideo ...)");
        return stdout;
    }
    FILE* f = OpenFile(name, "wb");
    if (!f) throw RunError("cannot create output " + name + ": " + SystemErrorText());
    return f;
}

// --detect: samples the input, prints the picture found and the settings that fill the frame
// with it; with a suggestion, --compare processes the last sampled frame with them and --save
// writes them back through the plug-in's own save.
int Detect(const Options& o, bool channelGiven, PluginDescriptor& d, const SettingsFile& settings,
           std::unique_ptr<FrameSource> source, const VideoInfo& video) {
    const uint64_t key = o.channels.front().key;
    SettingsStore store;
    store.LoadFile(settings.pluginPath, 0, nullptr);
    if (store.IsPerChannel()) {
        if (o.settings.save && !channelGiven)
            throw UsageError("the settings file " + o.settings.file + " keeps settings per channel: name the "
                             "channel to save for with --channel KEY");
        store.SelectChannel(static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32));
    }
    const ChannelProfile current = store.Current();

    const FrameGeometry& g = o.geometry;
    BorderSample sample;
    std::string error;
    if (!SampleBorders(*source, g, !o.quiet, sample, error)) throw RunError(error);
    source.reset();
    // A recording read without its B-frames may give too few frames to judge by (a short
    // clip, a long distance between reference frames): then every frame is read.
    constexpr long long kFewestFrames = 25;
    if (!o.videoIn.empty() && o.frames < 0 && sample.border.framesSampled < kFewestFrames &&
        (video.frames < 0 || video.frames > sample.border.framesSampled)) {
        source = MakeDecodedSource(o.videoIn, g, video, o.frames, DecodedFrames::All);
        sample = BorderSample();
        if (!SampleBorders(*source, g, !o.quiet, sample, error)) throw RunError(error);
        source.reset();
    }

    FitRequest request;
    request.mode = o.fit;
    request.trim = o.trim;
    request.interlaced = current.interlace && g.height >= kInterlaceMinHeight;
    FitResult fit;
    if (sample.border.verdict == BorderVerdict::Found)
        fit = FitSettings(g.width, g.height, sample.border.picture, request);
    PutText(stdout, DescribeDetection(g, sample.border, request, fit));
    std::fflush(stdout);
    if (!fit.ok) {
        if (o.settings.save) PrintText(stdout, "nothing saved: %s is left as it was\n", o.settings.file.c_str());
        if (!o.png.empty()) PrintText(stdout, "no picture written to %s: there is no suggestion\n", o.png.c_str());
        return 0;
    }
    if (fit.scaleX > 1300 || fit.scaleY > 1300)
        PrintText(stderr, "kvx-host: warning: a scale over 130 %% is beyond the settings dialog's range; "
                          "the plug-in takes it as it would from a hand-edited file\n");

    SettingRequest suggestion;
    suggestion.edits = SuggestedEdits(fit);
    StoreSettings(settings.pluginPath, suggestion, key);
    InitInfo init{0, ChannelCheck};
    d.Init(&init);
    std::vector<uint8_t> after = sample.lastFrame;
    if (!o.png.empty()) {
        VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
        d.FormatChange(&format);
        const ChannelSwitch& c = o.channels.front();
        ChannelRecord channel(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
        FrameInfo info{};
        info.pixels = after.data();
        info.channel = channel.info();
        d.ProcessFrame(&info);
        d.Free();
    }
    d.Deinit();
    if (!o.png.empty() && !WriteSideBySidePng(o.png, {ToRgb(sample.lastFrame, g), ToRgb(after, g)}, g.width, g.height))
        throw RunError("cannot write " + o.png);
    if (o.settings.save) {
        SaveSettingsBack(o, settings);
        PrintText(stdout, "saved      %s, %s\n", o.settings.file.c_str(),
                  store.IsPerChannel() ? ("the record of channel " + std::to_string(static_cast<long long>(key))).c_str()
                                       : "[COMMON] (one set for all channels)");
    }
    return 0;
}

// One run inside the private folder.
int Run(Options o, const std::string& folder) {
    CheckOptions(o);
    const bool channelGiven = !o.channels.empty();
    if (o.channels.empty()) o.channels.push_back({0, 1, "Channel 1"});
    const uint64_t settingsKey = o.channels.front().key;
    for (const ChannelSwitch& c : o.channels) g_knownChannels.insert(c.key);
    g_forgetChannels = o.forgetChannels;

    PluginLibrary plugin;
    std::string error;
    if (!plugin.Open(o.plugin, error)) throw RunError(error);
    // Prepared before Init, which is when the plug-in reads the file.
    const SettingsFile settings = PrepareSettings(o, folder, settingsKey);
    PluginDescriptor* d = plugin.Descriptor();
    InitInfo init{0, ChannelCheck};
    if (!FramesWanted(o)) {
        if (o.settings.save) {  // through the plug-in's own save, as the TV application would
            d->Init(&init);
            d->Deinit();
            SaveSettingsBack(o, settings);
        }
        return 0;
    }

    VideoInfo video;
    if (!o.videoIn.empty()) {
        video = ProbeVideo(o.videoIn);
        o.geometry.width = video.width;
        o.geometry.height = video.height;
        CheckGeometry(o.geometry);
#if !defined(_WIN32)
        signal(SIGPIPE, SIG_IGN);  // an encoder that stops early is reported, not a silent death
#endif
    }
    const FrameGeometry& g = o.geometry;
    std::unique_ptr<FrameSource> source;
    std::unique_ptr<ChildProcess> encoder;
    if (o.pattern) {
        source = MakePatternSource(g, o.frames);
    } else if (!o.videoIn.empty()) {
        // Detection needs a spread of frames, not every one: without --frames it reads only
        // the frames the decoder gets without decoding B-frames.
        const bool spread = o.detect && o.frames < 0;
        source = MakeDecodedSource(o.videoIn, g, video, o.frames,
                                   spread ? DecodedFrames::WithoutBidirectional : DecodedFrames::All);
        if (!o.videoOut.empty()) encoder = StartEncoder(o.videoIn, o.videoOut, g, video);
    } else {
        FILE* in = OpenInput(o.input);
        source = MakeRawSource(in, in != stdin, g, o.frames);
    }
    if (o.detect) return Detect(o, channelGiven, *d, settings, std::move(source), video);
    FILE* out = encoder ? encoder->Stream() : OpenOutput(o.output);
    const std::string outName = encoder ? o.videoOut : o.output;

    d->Init(&init);
    VideoFormat format{g.width, g.height, g.BytesPerPixel(), static_cast<int32_t>(g.format), 0};
    d->FormatChange(&format);

    std::vector<uint8_t> frame(g.FrameBytes()), before;
    ChannelRecord channel;
    FrameInfo info{};
    long long index = 0;
    int status = 0;
    // In a pipeline the terminal shows ffmpeg's own progress line: ours would garble it.
    const bool pipeline = (o.videoIn.empty() && !o.pattern && o.input == "-") || out == stdout;
    ProgressLine progress(!o.quiet && !pipeline, source->Length());
    double processSeconds = 0;
    for (;; ++index) {
        FrameSource::Result got = source->Next(frame, error);
        if (got == FrameSource::Result::End) break;
        if (got == FrameSource::Result::Error) {
            PrintText(stderr, "kvx-host: %s\n", error.c_str());
            status = 1;
            break;
        }
        for (const ChannelSwitch& c : o.channels)
            if (c.fromFrame == index) channel.Set(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
        if (channel.Empty()) {
            const ChannelSwitch& c = o.channels.front();
            channel.Set(static_cast<uint32_t>(c.key), static_cast<uint32_t>(c.key >> 32), c.name);
        }
        if (!o.png.empty()) before = frame;
        info.pixels = frame.data();
        info.channel = channel.info();
        auto started = std::chrono::steady_clock::now();
        d->ProcessFrame(&info);
        processSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        progress.Update(index + 1);
        if (out) {
            if (g.format == HostFormat::Bgr24) FlipRows(frame, g);
            if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
                PrintText(stderr, "kvx-host: cannot write output %s: %s\n", outName.c_str(),
                          SystemErrorText().c_str());
                status = 1;
                break;
            }
            if (g.format == HostFormat::Bgr24) FlipRows(frame, g);
        }
    }
    progress.Finish(index);
    if (o.stats && index > 0)
        PrintText(stderr, "kvx-host: %lld frames, ProcessFrame %.3f ms per frame (%.0f frames per second)\n",
                  index, 1000.0 * processSeconds / index, processSeconds > 0 ? index / processSeconds : 0.0);
    d->Free();
    d->Deinit();
    source.reset();
    if (encoder) {
        if (encoder->Finish() != 0 && status == 0) {
            PrintText(stderr, "kvx-host: ffmpeg could not encode %s (its message is above)\n", o.videoOut.c_str());
            status = 1;
        }
    } else if (out == stdout) {
        if (std::fflush(stdout) != 0 && status == 0) {
            PrintText(stderr, "kvx-host: cannot write to standard output: %s\n", SystemErrorText().c_str());
            status = 1;
        }
    } else if (out && std::fclose(out) != 0 && status == 0) {
        PrintText(stderr, "kvx-host: cannot write output %s: %s\n", o.output.c_str(), SystemErrorText().c_str());
        status = 1;
    }
    if (!o.png.empty() && status == 0) {
        if (index == 0) throw RunError("no frame was processed, so there is no picture for " + o.png);
        if (!WriteSideBySidePng(o.png, {ToRgb(before, g), ToRgb(frame, g)}, g.width, g.height))
            throw RunError("cannot write " + o.png);
    }
    if (o.settings.save && status == 0) SaveSettingsBack(o, settings);
    return status;
}

int Main(const std::vector<std::string>& args) {
    try {
        Options o = ParseCommandLine(args);
        if (o.help) {
            PutText(stdout, HelpText());
            return 0;
        }
        if (o.version) {
            PrintText(stdout, "kvx-host %s\n", KVX_VERSION);
            return 0;
        }
        const std::string folder = PrivateFolderOfThisRun();
        if (!folder.empty()) return Run(o, folder);
        // Checked here too, so a bad command line is reported before any folder is made.
        CheckOptions(o);
        for (const std::string& warning : o.warnings) PrintText(stderr, "kvx-host: %s\n", warning.c_str());
        return RunInPrivateFolder(args);
    } catch (const UsageError& e) {
        PrintText(stderr, "kvx-host: %s\n", e.what());
        return 2;
    } catch (const std::runtime_error& e) {
        PrintText(stderr, "kvx-host: %s\n", e.what());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fputs("kvx-host: out of memory; try a smaller --size\n", stderr);  // no memory to convert it
        return 1;
    }
}

}  // namespace
}  // namespace kvx

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) {
    // msvcrt opens the standard streams in text mode; frames are binary.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(kvx::Narrow(argv[i]));
    return kvx::Main(args);
}
#else
int main(int argc, char** argv) { return kvx::Main(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
