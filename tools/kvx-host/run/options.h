// kvx-host's command line: one table of options (name, argument, help text, handler), from
// which both the parser and --help are made. Every value is checked whole before any work.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "borders/black_level.h"
#include "borders/fit_settings.h"
#include "errors.h"
#include "ffmpeg/encode_choice.h"
#include "run/settings_options.h"
#include "video/frame_geometry.h"

namespace kvx {

struct ChannelSwitch {
    long long fromFrame = 0;
    uint64_t key = 0;
    std::string name;
};

struct Options {
    std::string plugin, input, output, png;
    std::string fitLog;  // --fit-log: the live fit's changes
    std::vector<std::string> files;  // positional IN OUT
    std::string videoIn, videoOut;   // IN and OUT when they are video files (ffmpeg's work)
    FrameGeometry geometry;
    bool haveSize = false, haveFormat = false;
    bool pattern = false, forgetChannels = false;
    long long frames = -1;
    std::vector<ChannelSwitch> channels;
    SettingRequest settings;
    bool quiet = false, stats = false, showSettings = false;
    bool overwrite = false;  // -y: an existing output is replaced
    bool help = false, version = false;
    bool detect = false, fitGiven = false;  // --detect; an option of --detect alone given
    FitMode fit = FitMode::Fill;
    int32_t trim = 0;  // thousandths of the picture cut more on every side
    EncodeChoice encode;                // how a video OUT is encoded
    int32_t black = kDefaultBlackLevel;  // --black: the darkest luma that counts as picture
    bool json = false;                   // --json: the --detect report as JSON
    int32_t take = 0;                    // --take: the format to suggest for when it changes (1, 2, ...)
    std::vector<std::string> warnings;  // one line each, printed before the run
};

struct OptionEntry {
    const char* name;      // "--scale"; null for a heading line of the help text
    const char* argument;  // "P", "FILE", ...; null for a switch without a value
    const char* help;      // continuation lines start with '\n'
    void (*apply)(Options& options, const std::string& name, const std::string& value);
};

// The option table, in --help order.
const std::vector<OptionEntry>& OptionTable();

// Parses argv (UTF-8) into options; throws UsageError. Accepts "--opt value" and "--opt=value".
Options ParseCommandLine(const std::vector<std::string>& args);

// The whole --help text.
std::string HelpText();

// Whole-value number parsing shared by the handlers; each throws UsageError naming `what`.
long long ParseWholeNumber(const std::string& text, const std::string& what, long long min, long long max);
uint64_t ParseChannelKey(const std::string& text);
bool ParseSwitchWord(const std::string& text, const std::string& what);

// "/inst:X" or "-inst:X" in any case: the plug-in reads it from the process command line.
bool IsInstanceSwitch(const std::string& arg);

}  // namespace kvx
