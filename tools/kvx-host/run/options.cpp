#include "run/options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "borders/border_detect.h"
#include "files/files.h"

namespace kvx {
namespace {

void AddEdit(Options& o, SettingId field, int32_t value) { o.settings.edits.push_back({field, value}); }

// Values outside the dialog's ranges are taken, as a hand-edited file can hold them, with a note.
void WarnOutside(Options& o, const std::string& name, int32_t value, const SettingInfo& s) {
    if (value >= s.dialogLow && value <= s.dialogHigh) return;
    o.warnings.push_back("warning: " + name + " is outside the dialog's range " + std::to_string(s.dialogLow / 10) +
                         " to " + std::to_string(s.dialogHigh / 10) +
                         " %; the plug-in takes it as it would from a hand-edited file");
}

// One option of the settings list: a per-cent value or a switch word.
void SettingOption(Options& o, const std::string& name, const std::string& value) {
    for (int id = 0; id < kSettingCount; ++id) {
        const SettingInfo& s = kSettingList[id];
        if (name != s.option) continue;
        if (s.unit == SettingUnit::kSwitch) {
            AddEdit(o, static_cast<SettingId>(id), ParseSwitchWord(value, name) ? 1 : 0);
            return;
        }
        const int32_t v = ParsePercent(value, name);
        WarnOutside(o, name + " " + value, v, s);
        AddEdit(o, static_cast<SettingId>(id), v);
    }
}

// --scale: both scales at once.
void Scale(Options& o, const std::string& name, const std::string& value) {
    const int32_t v = ParsePercent(value, name);
    WarnOutside(o, name + " " + value, v, kSettingList[kScaleX]);
    AddEdit(o, kScaleX, v);
    AddEdit(o, kScaleY, v);
}

void Size(Options& o, const std::string&, const std::string& value) {
    size_t x = value.find('x');
    if (x == std::string::npos) throw UsageError("bad --size " + value + " (expected WxH, e.g. 720x576)");
    o.geometry.width = static_cast<int32_t>(ParseWholeNumber(value.substr(0, x), "--size width", 1, 32767));
    o.geometry.height = static_cast<int32_t>(ParseWholeNumber(value.substr(x + 1), "--size height", 1, 32767));
    o.haveSize = true;
}

void Format(Options& o, const std::string&, const std::string& value) {
    std::string v = Lower(value);
    if (v == "yuyv" || v == "yuyv422" || v == "yuy2") o.geometry.format = HostFormat::Yuyv;
    else if (v == "bgr24") o.geometry.format = HostFormat::Bgr24;
    else throw UsageError("unknown --format " + value + " (yuyv or bgr24)");
    o.haveFormat = true;
}

void Channel(Options& o, const std::string&, const std::string& value) {
    ChannelSwitch c;
    std::string rest = value;
    size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        c.fromFrame = ParseWholeNumber(rest.substr(at + 1), "--channel @FRAME", 0,
                                       std::numeric_limits<long long>::max());
        rest.erase(at);
    }
    size_t colon = rest.find(':');
    c.key = ParseChannelKey(rest.substr(0, colon));
    if (colon != std::string::npos) c.name = rest.substr(colon + 1);
    o.channels.push_back(c);
}

void PngName(Options& o, const std::string& name, const std::string& value) {
    if (value.size() < 5 || Lower(value.substr(value.size() - 4)) != ".png")
        throw UsageError(name + " " + value + ": the picture is a PNG, so its name must end in .png");
    o.png = value;
}

const char kSwitchWords[] = "on|off";

// The option of a setting, from the settings list.
OptionEntry SettingEntry(SettingId id) {
    const SettingInfo& s = kSettingList[id];
    return {s.option, s.unit == SettingUnit::kSwitch ? kSwitchWords : "P", s.help, SettingOption};
}

void Fit(Options& o, const std::string&, const std::string& value) {
    std::string v = Lower(value);
    if (v == "fill") o.fit = FitMode::Fill;
    else if (v == "aspect") o.fit = FitMode::Aspect;
    else throw UsageError("unknown --fit " + value + " (fill or aspect)");
    o.fitGiven = true;
}

void Trim(Options& o, const std::string& name, const std::string& value) {
    o.trim = ParsePercent(value, name);
    if (o.trim < 0 || o.trim > 250)
        throw UsageError("bad " + name + " " + value + " (per cent of the picture from 0 to 25, e.g. 1.5)");
    o.fitGiven = true;
}

}  // namespace

long long ParseWholeNumber(const std::string& text, const std::string& what, long long min, long long max) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    bool digitsOnly = !text.empty() && text.find_first_not_of("+-0123456789") == std::string::npos;
    if (!digitsOnly || *end || errno == ERANGE || v < min || v > max)
        throw UsageError("bad " + what + " '" + text + "' (a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ")");
    return v;
}

uint64_t ParseChannelKey(const std::string& text) {
    // Keys are signed in the settings file; both spellings of the 64 bits are accepted.
    errno = 0;
    char* end = nullptr;
    bool digitsOnly = !text.empty() && text.find_first_not_of("-0123456789") == std::string::npos &&
                      text.find('-', 1) == std::string::npos;
    uint64_t key = 0;
    if (digitsOnly && text[0] == '-') key = static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 10));
    else if (digitsOnly) key = std::strtoull(text.c_str(), &end, 10);
    if (!digitsOnly || *end || errno == ERANGE)
        throw UsageError("bad --channel key '" + text +
                         "' (a whole number from -9223372036854775808 to 18446744073709551615)");
    return key;
}

bool ParseSwitchWord(const std::string& text, const std::string& what) {
    std::string v = Lower(text);
    if (v == "on" || v == "yes" || v == "true" || v == "1") return true;
    if (v == "off" || v == "no" || v == "false" || v == "0") return false;
    throw UsageError("bad value '" + text + "' for " + what + " (on or off; yes/no, true/false, 1/0 too)");
}

bool IsInstanceSwitch(const std::string& arg) {
    std::string head = Lower(arg.substr(0, 6));
    return head == "/inst:" || head == "-inst:";
}

const std::vector<OptionEntry>& OptionTable() {
    static const std::vector<OptionEntry> table = {
        {nullptr, nullptr, "\nInput and output:", nullptr},
        {"--plugin", "FILE", "the plug-in library (KVX_Scaler.dll / KVX_Scaler.so)",
         [](Options& o, const std::string&, const std::string& v) { o.plugin = v; }},
        {"--size", "WxH", "frame size in pixels of raw input (each side 1 to 32767)", Size},
        {"--format", "F", "yuyv (packed 4:2:2, default) or bgr24 (raw bgr24 is top-down in\n"
                          "files and pipes; it is flipped to the host's bottom-up rows)", Format},
        {"--input", "FILE", "raw frames to read ('-': standard input, never a terminal)",
         [](Options& o, const std::string&, const std::string& v) { o.input = v; }},
        {"--output", "FILE", "where to write the processed raw frames ('-': standard output,\n"
                             "never a terminal; 'none' writes nothing)",
         [](Options& o, const std::string&, const std::string& v) { o.output = v; }},
        {"--pattern", nullptr, "use the built-in test pattern instead of an input",
         [](Options& o, const std::string&, const std::string&) { o.pattern = true; }},
        {"--frames", "N", "number of pattern frames (default 1), or at most N input frames",
         [](Options& o, const std::string& n, const std::string& v) {
             o.frames = ParseWholeNumber(v, n, 0, std::numeric_limits<long long>::max());
         }},
        {"--compare", "FILE.png", "PNG of the last frame, before and after, side by side", PngName},
        {"--png", "FILE.png", "the same as --compare", PngName},
        {"--overwrite", nullptr, "(or -y) replace an existing OUT, --output FILE or PNG; without it\n"
                                 "(or with -n) an existing one is refused before any work",
         [](Options& o, const std::string&, const std::string&) { o.overwrite = true; }},
        {"--no-overwrite", nullptr, "(or -n) refuse an existing output (the default)",
         [](Options& o, const std::string&, const std::string&) { o.overwrite = false; }},
        {"--quiet", nullptr, "no progress line (shown only when standard error is a terminal\n"
                              "and frames do not come from or go to a pipe)",
         [](Options& o, const std::string&, const std::string&) { o.quiet = true; }},
        {"--stats", nullptr, "print the time ProcessFrame took per frame at the end",
         [](Options& o, const std::string&, const std::string&) { o.stats = true; }},
        {"--fit-log", "FILE", "write each change of the live fit (--auto-fit on) to FILE: the\n"
                              "frame, the part of the frame shown, the settings and why; JSON\n"
                              "lines when FILE ends in .json or .jsonl, else text",
         [](Options& o, const std::string&, const std::string& v) { o.fitLog = v; }},
        {nullptr, nullptr, "\nEncoding a video OUT (H.264 with IN's sound, and IN's subtitles where OUT's\n"
                           "container takes them):", nullptr},
        {"--crf", "N", "quality, x264's constant rate factor from 0 to 51 (lower: better and\n"
                       "larger; default 18, which looks like the source)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.encode.crf = static_cast<int>(ParseWholeNumber(v, n, 0, 51));
             o.encode.given = true;
         }},
        {"--preset", "NAME", "speed, one of x264's presets from ultrafast to placebo (default\n"
                             "medium; slower ones give smaller files at the same quality)",
         [](Options& o, const std::string& n, const std::string& v) {
             if (!IsX264Preset(v))
                 throw UsageError("unknown " + n + " " + v + " (one of " + kX264Presets + ")");
             o.encode.preset = v;
             o.encode.given = true;
         }},
        {nullptr, nullptr, "\nSettings (a run starts from the built-in defaults unless --settings is given;\n"
                           "per cent as the settings dialog shows them, one decimal):", nullptr},
        {"--settings", "FILE", "start from this settings file (e.g. one from the TV computer);\n"
                               "without --save it is only read",
         [](Options& o, const std::string&, const std::string& v) { o.settings.file = v; }},
        {"--save", nullptr, "write the result of the run back to the --settings FILE, through\n"
                            "the plug-in's own save (FILE may be new); a failed run leaves it",
         [](Options& o, const std::string&, const std::string&) { o.settings.save = true; }},
        {"--show-settings", nullptr, "print the settings in effect (alone: print them and stop)",
         [](Options& o, const std::string&, const std::string&) { o.showSettings = true; }},
        {"--per-channel", kSwitchWords, "settings per channel (\"Common=0\") or one set for all",
         [](Options& o, const std::string& n, const std::string& v) {
             o.settings.perChannel = ParseSwitchWord(v, n) ? 1 : 0;
         }},
        SettingEntry(kProcEnable),
        {"--scale", "P", "picture width and height, e.g. 110 (100 = unchanged; dialog: 70 to 130)", Scale},
        SettingEntry(kScaleX),
        SettingEntry(kScaleY),
        SettingEntry(kOffsetX),
        SettingEntry(kOffsetY),
        SettingEntry(kKeepAspect),
        SettingEntry(kInterlace),
        SettingEntry(kDeinterlace),
        SettingEntry(kAutoFit),
        {nullptr, nullptr, "\nChannels (the setting options go to the first --channel's record in\n"
                           "per-channel mode):", nullptr},
        {"--channel", "KEY[:NAME][@FRAME]", "\nthe channel shown (64-bit key, name), from frame FRAME on\n"
                                            "(default 0); repeat to switch channels during the run.\n"
                                            "At save the host knows the --channel keys and every channel\n"
                                            "with a record in the --settings FILE, so their records are kept",
         Channel},
        {"--forget-channels", nullptr, "the host knows no channel when the plug-in saves (records of\n"
                                       "channels other than 1 to 4 are dropped)",
         [](Options& o, const std::string&, const std::string&) { o.forgetChannels = true; }},
        {nullptr, nullptr, "\nFinding the settings that make the picture inside black borders fill the frame:", nullptr},
        {"--detect", nullptr, "read the input (all of a short one, an even spread of a long one),\n"
                              "find the picture's rectangle and print it with the settings and\n"
                              "the options that make it fill the frame; no frames are written.\n"
                              "With --save the settings go into the --settings FILE (the\n"
                              "--channel's record when FILE keeps settings per channel);\n"
                              "--compare shows the last sampled frame before and after them.\n"
                              "Exit 0: settings suggested (and saved with --save); 3: no border\n"
                              "found; 4: not sure, a format change without --take, no\n"
                              "suggestion, or no picture at all. Only 0 changes anything",
         [](Options& o, const std::string&, const std::string&) { o.detect = true; }},
        {"--fit", "fill|aspect", "fill: ScaleX and ScaleY each, the picture covers the frame exactly\n"
                                 "(default); aspect: one scale (KeepAspect on), the excess cut evenly",
         Fit},
        {"--trim", "P", "cut P per cent of the picture more on every side (noisy overscan\n"
                        "lines at the picture's own edge)",
         Trim},
        {"--black", "N", "the darkest luma (17 to 235; video black is 16) that counts as\n"
                         "picture (default 36: bars up to about Y 24 with noise are black);\n"
                         "the report gives the bars' measured level",
         [](Options& o, const std::string& n, const std::string& v) {
             o.black = static_cast<int32_t>(ParseWholeNumber(v, n, 17, 235));
             o.fitGiven = true;
         }},
        {"--take", "N", "when the picture's format changes within the recording (a 4:3\n"
                        "advert, a letterboxed film, an advert): suggest (and --save) the\n"
                        "settings of format N (1: the first in time, 2: the second, ...)",
         [](Options& o, const std::string& n, const std::string& v) {
             o.take = static_cast<int32_t>(ParseWholeNumber(v, n, 1, kMostFormats));
             o.fitGiven = true;
         }},
        {"--json", nullptr, "print the --detect report as JSON (verdict, rectangle, reasons,\n"
                            "settings and options)",
         [](Options& o, const std::string&, const std::string&) {
             o.json = true;
             o.fitGiven = true;
         }},
        {nullptr, nullptr, "\nOther:", nullptr},
        {"/inst:X", nullptr, "(or -inst:X) the plug-in's settings instance X", nullptr},
        {"--version", nullptr, "kvx-host's version",
         [](Options& o, const std::string&, const std::string&) { o.version = true; }},
        {"--help", nullptr, "this text", [](Options& o, const std::string&, const std::string&) { o.help = true; }},
    };
    return table;
}

std::string HelpText() {
    std::string text =
        "usage: kvx-host --plugin FILE [setting options] IN OUT\n"
        "       kvx-host --plugin FILE --size WxH [--format yuyv|bgr24] [--input FILE] [--output FILE|none]\n"
        "       kvx-host --plugin FILE --size WxH --pattern [--frames N] --compare FILE.png --output none\n"
        "       kvx-host --plugin FILE --settings FILE [setting options] [--save] [--show-settings]\n"
        "       kvx-host --plugin FILE --detect IN [--fit fill|aspect] [--trim P] [--black N] [--take N]\n"
        "                [--json] [--compare FILE.png]\n"
        "                [--settings FILE [--channel KEY] --save]\n"
        "\n"
        "Loads a KVX_Scaler-style plug-in and runs frames through it exactly as the TV\n"
        "application does (Init, FormatChange, ProcessFrame..., Free, Deinit). Each run works in\n"
        "a private folder of its own: no settings file beside kvx-host is read or left, and the\n"
        "settings come from the command line alone (and from --settings FILE when given).\n"
        "IN OUT: video files (ffmpeg and ffprobe decode and encode them; .yuv/.raw/.rgb are raw).\n"
        "Values may be given as --opt VALUE or --opt=VALUE.\n";
    for (const OptionEntry& entry : OptionTable()) {
        if (!entry.name) {
            text += std::string(entry.help) + "\n";
            continue;
        }
        std::string head = "  " + std::string(entry.name) + (entry.argument ? " " + std::string(entry.argument) : "");
        std::string help = entry.help;
        if (!help.empty() && help[0] == '\n') {
            text += head;
        } else {
            head.resize(std::max<size_t>(head.size() + 1, 23), ' ');
            text += head;
        }
        for (size_t i = 0; i < help.size(); ++i) {
            text += help[i];
            if (help[i] == '\n') text += std::string(23, ' ');
        }
        text += "\n";
    }
    return text;
}

Options ParseCommandLine(const std::vector<std::string>& args) {
    Options o;
    bool optionsEnded = false;  // after "--" every word is a file name, even "-x"
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (optionsEnded) {
            o.files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (IsInstanceSwitch(a)) continue;  // read by the plug-in from the process command line
        if (a == "-h" || a == "/?") a = "--help";  // "/?": what Windows users type for help
        if (a == "-y") a = "--overwrite";  // ffmpeg's spelling, as its users expect
        if (a == "-n") a = "--no-overwrite";
        if (a.size() < 2 || a[0] != '-' || a == "-") {
            o.files.push_back(a);
            continue;
        }
        std::string value;
        bool inlineValue = false;
        size_t eq = a.find('=');
        if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a.erase(eq);
            inlineValue = true;
        }
        const OptionEntry* entry = nullptr;
        for (const OptionEntry& s : OptionTable())
            if (s.name && s.apply && a == s.name) entry = &s;
        if (!entry) throw UsageError("unknown option " + a + " (see --help)");
        if (entry->argument && !inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError("option " + a + " needs a value (" + entry->argument + ")");
            value = args[++i];
        } else if (!entry->argument && inlineValue) {
            throw UsageError("option " + a + " takes no value");
        }
        entry->apply(o, a, value);
    }
    return o;
}

}  // namespace kvx
