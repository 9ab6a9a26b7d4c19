// kvx-host's command line: what a run is asked to do, and what is refused before any work.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/options.h"
#include "run/run_plan.h"

namespace kvx {
namespace {

RunPlan Plan(const std::vector<std::string>& args) { return MakeRunPlan(ParseCommandLine(args)); }

// The message a refused command line gives ("" when it is taken).
std::string Refusal(const std::vector<std::string>& args) {
    try {
        Plan(args);
        return std::string();
    } catch (const UsageError& e) {
        return e.what();
    }
}

struct RefusedLine {
    std::vector<std::string> args;
    const char* says;
};

const RefusedLine kRefused[] = {
    {{"--size", "8x8", "--pattern"}, "--plugin FILE is required"},
    {{"--plugin", "p", "a.ts", "b.mp4", "c.mp4"}, "'c.mp4' is a third file name"},
    {{"--plugin", "p", "a.ts"}, "give both IN and OUT"},
    {{"--plugin", "p", "--size", "8x8", "--pattern", "--frames", "18446744073709551616"}, "bad --frames"},
    {{"--plugin", "p", "--size", "8x8", "--pattern", "--frames", "-1"}, "bad --frames"},
    {{"--plugin", "p", "--save", "--scale", "110"}, "give --settings FILE too"},
    {{"--plugin", "p", "--trim", "1"}, "--fit, --trim, --black, --take and --json go with --detect"},
    {{"--plugin", "p", "--detect", "a.ts", "--trim", "25.1"}, "bad --trim"},
    {{"--plugin", "p", "--detect", "a.ts", "--frames", "0"}, "--frames 0 leaves --detect no frame"},
    {{"--plugin", "p", "a.ts", "b.webm"}, "cannot write H.264 into .webm"},
    {{"--plugin", "p", "a.ts", "b"}, "has no extension"},
    {{"--plugin", "p", "a.yuv", "b.mp4"}, "a video OUT takes its frame rate"},
    {{"--plugin", "p", "--size", "721x576", "--pattern"}, "is odd"},
    {{"--plugin", "p", "--size", "32766x32767", "--pattern"}, "MiB each"},
    {{"--plugin", "p", "--channel", "5@x"}, "bad --channel @FRAME"},
    {{"--plugin", "p", "-y=1"}, "unknown option -y=1"},
    {{"--plugin", "p", "--crf", "52", "a.ts", "b.mp4"}, "bad --crf '52' (a whole number from 0 to 51)"},
    {{"--plugin", "p", "--preset", "Fast", "a.ts", "b.mp4"}, "unknown --preset Fast (one of ultrafast|"},
    {{"--plugin", "p", "--size", "8x8", "--pattern", "--crf", "20"}, "set how a video OUT is encoded"},
    {{"--plugin", "p", "--preset", "slow", "a.ts", "b.yuv"}, "set how a video OUT is encoded"},
    {{"--plugin", "p", "--detect", "a.ts", "--fit-log", "f.txt"}, "--detect runs none"},
    {{"--plugin", "p", "--size", "8x8", "--pattern", "--fit-log", "-"}, "--fit-log needs a file name"},
    {{"--plugin", "p", "--settings", "f.ini", "--channel", "5", "--scale", "105"}, "add --save to store"},
    {{"--plugin", "p", "--", "a.ts", "--scale"}, "OUT --scale has no extension"},  // after --, a file name
};

TEST(CommandLine, RefusedBeforeAnyWorkWithAMessageSayingWhatToDo) {
    for (const RefusedLine& r : kRefused) {
        const std::string said = Refusal(r.args);
        EXPECT_NE(said.find(r.says), std::string::npos) << r.args.back() << ": " << said;
    }
}

TEST(CommandLine, TakesWhatHelpPromises) {
    EXPECT_EQ(Plan({"--plugin", "p", "--detect", "a.ts", "--trim", "25"}).o.trim, 250);
    // The last @ starts the frame: a name may hold @ itself.
    const RunPlan named = Plan({"--plugin", "p", "--size", "8x8", "--pattern", "--channel", "7:News @ Nine@12"});
    ASSERT_EQ(named.o.channels.size(), 1u);
    EXPECT_EQ(named.o.channels[0].name, "News @ Nine");
    EXPECT_EQ(named.o.channels[0].fromFrame, 12);
    EXPECT_TRUE(named.channelGiven);
    // ffmpeg's -y and -n.
    EXPECT_TRUE(Plan({"--plugin", "p", "a.ts", "b.mp4", "-y"}).o.overwrite);
    EXPECT_FALSE(Plan({"--plugin", "p", "a.ts", "b.mp4", "-y", "-n"}).o.overwrite);
    // "--" ends the options: a file may be named like one.
    EXPECT_EQ(Plan({"--plugin", "p", "--", "-in.ts", "-y.mp4"}).o.videoOut, "-y.mp4");
    EXPECT_TRUE(ParseCommandLine({"/?"}).help);
    // The encode: x264 at crf 18, preset medium, unless asked otherwise.
    const RunPlan plain = Plan({"--plugin", "p", "a.ts", "b.mp4"});
    EXPECT_EQ(plain.o.encode.crf, 18);
    EXPECT_EQ(plain.o.encode.preset, "medium");
    const RunPlan chosen = Plan({"--plugin", "p", "a.ts", "b.mkv", "--crf=0", "--preset", "placebo"});
    EXPECT_EQ(chosen.o.encode.crf, 0);
    EXPECT_EQ(chosen.o.encode.preset, "placebo");
}

TEST(CommandLine, ThePlanSaysWhatIsReadAndWhatIsWritten) {
    const RunPlan p = Plan({"--plugin", "k.so", "--settings", "s.ini", "--save", "in.ts", "out.mkv", "--png", "c.png"});
    EXPECT_EQ(p.mode, RunMode::Frames);
    EXPECT_EQ(p.o.videoIn, "in.ts");
    EXPECT_EQ(p.o.videoOut, "out.mkv");
    using Named = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(p.reads, (Named{{"--plugin", "k.so"}, {"--settings", "s.ini"}, {"IN", "in.ts"}}));
    EXPECT_EQ(p.writes, (Named{{"OUT", "out.mkv"}, {"the PNG", "c.png"}, {"--settings", "s.ini"}}));
    // Without a --channel the run shows channel 1.
    EXPECT_FALSE(p.channelGiven);
    EXPECT_EQ(p.SettingsKey(), 1u);
    EXPECT_EQ(Plan({"--plugin", "p", "--settings", "s.ini", "--show-settings"}).mode, RunMode::SettingsOnly);
    EXPECT_EQ(Plan({"--plugin", "p", "--detect", "a.ts"}).mode, RunMode::Detect);
    // Standard streams are no files to check.
    EXPECT_TRUE(Plan({"--plugin", "p", "--size", "8x8"}).writes.empty());
}

TEST(FrameSize, CheckedInSixtyFourBitsInEveryBuild) {
    // 65536 x 32769 x 2 bytes wraps to 128 KiB in 32-bit arithmetic.
    FrameGeometry wrapping;
    wrapping.width = 65536;
    wrapping.height = 32769;
    EXPECT_THROW(CheckGeometry(wrapping), UsageError);
    FrameGeometry largest;
    largest.width = 8192;
    largest.height = 16384;  // exactly 256 MiB
    EXPECT_NO_THROW(CheckGeometry(largest));
}

TEST(CommandLine, EveryMessageIsOneLineEndingInItsNewline) {
    // kvx-host prints "kvx-host: " + message + "\n": a message must not carry its own.
    for (const RefusedLine& r : kRefused) {
        const std::string said = Refusal(r.args);
        EXPECT_EQ(said.find('\n'), std::string::npos) << said;
    }
    EXPECT_EQ(HelpText().back(), '\n');
}

}  // namespace
}  // namespace kvx
