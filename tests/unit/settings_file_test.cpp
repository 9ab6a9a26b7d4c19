#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "locked_folder.h"
#include "platform/file_system.h"
#include "settings/settings_path.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

const char kFreshFile[] =
    "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[SETTINGS]\r\nCommon=1\r\n[COMMON]\r\n"
    "ProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1000\r\nScaleY=1000\r\nKeepAspect=1\r\n"
    "Interlace=1\r\nDeinterlace=0\r\n";

std::string Section(const char* header, int scaleX) {
    return std::string("[") + header + "]\r\nProcEnable=1\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=" +
           std::to_string(scaleX) + "\r\nScaleY=1000\r\nKeepAspect=1\r\nInterlace=1\r\nDeinterlace=0\r\n";
}

// The system's file operations, counted, with failures to order.
class TestFiles : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        if (readFails) return ReadStatus::kUnreadable;
        return real.ReadWhole(path, bytes);
    }
    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        ++writes;
        if (takenNames > 0) {
            --takenNames;
            return CreateStatus::kExists;
        }
        if (writeFails) {  // half the text reaches the disk, then the disk is full
            real.WriteNew(path, data, size / 2);
            return CreateStatus::kFailed;
        }
        if (createRefused) return CreateStatus::kNotCreated;
        return real.WriteNew(path, data, size);
    }
    bool Replace(const std::string& source, const std::string& target) override {
        return !replaceFails && real.Replace(source, target);
    }
    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        ++overwrites;
        return real.Overwrite(path, data, size);
    }
    void Remove(const std::string& path) override { real.Remove(path); }
    void CreateFolder(const std::string& path) override { real.CreateFolder(path); }

    FileSystem& real = SystemFiles();
    int writes = 0, overwrites = 0;
    int takenNames = 0;
    bool readFails = false, writeFails = false, replaceFails = false, createRefused = false;
};

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/kvx_settings_test_XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        path = root + "/Plugins/KVX_Scaler.ini";
        previous = SetFiles(&files);
    }
    void TearDown() override {
        SetFiles(previous);
        fs::remove_all(root);
    }
    void WriteFile(const std::string& text) {
        fs::create_directories(root + "/Plugins");
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string ReadFile() {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t FilesInFolder() {
        size_t n = 0;
        for (auto& entry : fs::directory_iterator(root + "/Plugins")) n += entry.is_regular_file();
        return n;
    }

    TestFiles files;
    FileSystem* previous = nullptr;
    std::string root, path;
};

std::vector<uint64_t> g_asked;
int32_t KVX_CDECL KnowsOnlyTen(uint32_t low, uint32_t high) {
    g_asked.push_back((uint64_t{high} << 32) | low);
    return high == 0 && low == 10;
}

// ---- What is written ----------------------------------------------------------------

TEST_F(SettingsFile, FreshStartWritesTheFourteenLines) {
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    EXPECT_TRUE(fs::exists(path));  // created empty, with its folder
    EXPECT_EQ(ReadFile(), "");
    store.Save();
    EXPECT_EQ(ReadFile(), kFreshFile);
    EXPECT_EQ(FilesInFolder(), 1u);  // no temporary file left behind
}

TEST_F(SettingsFile, UnchangedTextIsNotRewritten) {
    WriteFile(kFreshFile);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(files.writes, 0);
    store.SetDialogPos(5, 6);
    store.Save();
    EXPECT_EQ(files.writes, 1);
    store.Save();  // the file now holds that text
    EXPECT_EQ(files.writes, 1);
    // A change that keeps the text's length is still a change.
    store.EditCurrent([](ChannelProfile& p) { p.offsetX = 1; });
    store.Save();
    store.EditCurrent([](ChannelProfile& p) { p.offsetX = 2; });
    store.Save();
    EXPECT_EQ(files.writes, 3);
    EXPECT_NE(ReadFile().find("\r\nOffsetX=2\r\n"), std::string::npos);
}

TEST_F(SettingsFile, DefaultSectionSeedsNewChannelsAndIsDropped) {
    WriteFile(std::string(kFreshFile) + "[DEFAULT]\r\nScaleX=900\r\n");
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.SetPerChannel(true);
    ChannelProfile values;
    store.BeginFrame(3, 0, "Three", &values);
    EXPECT_EQ(values.scaleX, 900);
    store.ResetToDefaults();
    EXPECT_EQ(store.Current().scaleX, 900);
    store.Save();
    std::string text = ReadFile();
    EXPECT_EQ(text.find("DEFAULT"), std::string::npos);
    EXPECT_NE(text.find("[3]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=900\r\n"), std::string::npos);
}

TEST_F(SettingsFile, AutoFitIsWrittenOnlyInRecordsWhereItIsOn) {
    std::string common = kFreshFile;
    common.replace(common.find("Common=1"), 8, "Common=0");
    // A record with the key and one without it come back as they were; [DEFAULT] seeds a
    // new channel with it, and that channel's record is written with it.
    const std::string text = common + Section("7", 700) + "AutoFit=1\r\n" + Section("8", 800);
    WriteFile(text + "[DEFAULT]\r\nAutoFit=1\r\n");
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    ChannelProfile v;
    for (auto [channel, autoFit] : {std::pair{7u, 1u}, {8u, 0u}, {9u, 1u}}) {
        store.BeginFrame(channel, 0, "", &v);
        EXPECT_EQ(v.autoFit, autoFit) << channel;
    }
    store.Save();
    const std::string builtIn = common.substr(common.find("ProcEnable"));
    EXPECT_EQ(ReadFile(), text + "[9]\r\n" + builtIn + "AutoFit=1\r\n");
}

TEST_F(SettingsFile, ChannelSectionsFollowCommonAndAreRenumbered) {
    WriteFile(Section("55", 1100) + kFreshFile + Section("007", 700) + Section(" 8 ", 800) +
              Section("4294967298", 1200) + Section("x", 1300));
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    std::string text = ReadFile();
    const std::string builtIn8 =
        "[8]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1000\r\nScaleY=1000\r\n"
        "KeepAspect=1\r\nInterlace=1\r\nDeinterlace=0\r\n";
    EXPECT_EQ(text, std::string(kFreshFile) + Section("7", 700) + builtIn8 +
                        Section("4294967298", 1200));
    // [55] stood before [COMMON]: not loaded. "[ 8 ]" keeps its number but its keys are
    // looked up under [8], which does not exist: built-in defaults, not the file's values.
}

TEST_F(SettingsFile, ChannelsTheHostForgotAreLeftOutExceptOneToFour) {
    WriteFile(std::string(kFreshFile) + Section("1", 100) + Section("2", 200) + Section("4", 400) +
              Section("5", 500) + Section("9", 900) + Section("10", 1000) + Section("-1", 100) +
              Section("4294967300", 300));
    SettingsStore store;
    store.LoadFile(path, 0, KnowsOnlyTen);
    g_asked.clear();
    store.Save();
    // 1 to 4 are asked too; a key whose low half is 4 but high half is not 0 is no exception.
    EXPECT_EQ(g_asked, (std::vector<uint64_t>{1, 2, 4, 5, 9, 10, UINT64_MAX, 4294967300u}));
    EXPECT_EQ(ReadFile(), std::string(kFreshFile) + Section("1", 100) + Section("2", 200) +
                              Section("4", 400) + Section("10", 1000));
}

TEST_F(SettingsFile, WithoutACallbackEveryChannelIsKept) {
    std::string text = std::string(kFreshFile) + Section("9", 900) + Section("-1", 100);
    WriteFile(text);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(files.writes, 0);  // reproduced byte for byte
    EXPECT_EQ(ReadFile(), text);
}

TEST_F(SettingsFile, PerChannelSettingsRoundTrip) {
    {
        SettingsStore store;
        store.LoadFile(path, 0, nullptr);
        store.SetPerChannel(true);
        ChannelProfile v;
        store.BeginFrame(1, 1, "A", &v);
        store.EditCurrent([](ChannelProfile& p) { p.offsetX = -250; });
        store.BeginFrame(2, 0, "B", &v);
        store.EditCurrent([](ChannelProfile& p) { p.scaleY = 1500; });
        store.Save();
    }
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    EXPECT_TRUE(store.IsPerChannel());
    ChannelProfile v;
    store.BeginFrame(1, 1, "A", &v);
    EXPECT_EQ(v.offsetX, -250);
    EXPECT_EQ(v.scaleY, 1000);
    store.BeginFrame(2, 0, "B", &v);
    EXPECT_EQ(v.offsetX, 0);
    EXPECT_EQ(v.scaleY, 1500);
}

// ---- Outside the calling order --------------------------------------------------------

TEST_F(SettingsFile, SecondLoadStartsAfresh) {
    std::string text = std::string(kFreshFile) + Section("9", 900);
    WriteFile(text);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(files.writes, 0);
    EXPECT_EQ(ReadFile(), text);
}

TEST_F(SettingsFile, SaveLeavesTheLiveProfileInPlace) {
    WriteFile(std::string(kFreshFile) + Section("9", 900));
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    ChannelProfile v;
    store.BeginFrame(5, 0, "Five", &v);  // common mode: shows COMMON
    store.EditCurrent([](ChannelProfile& p) { p.offsetY = 77; });
    store.Save();
    EXPECT_EQ(store.Current().offsetY, 77);
    EXPECT_EQ(store.Current().keyLow, 0u);
    store.BeginFrame(6, 0, "Six", &v);  // a late frame must not carry channel 9 into COMMON
    store.Save();
    std::string text = ReadFile();
    EXPECT_NE(text.find("[COMMON]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=77\r\nScaleX=1000\r\n"),
              std::string::npos);
    EXPECT_NE(text.find(Section("9", 900)), std::string::npos);
}

// ---- Failures -------------------------------------------------------------------------

TEST_F(SettingsFile, AFileThatCouldNotBeReadIsNeverReplaced) {
    WriteFile("[COMMON]\r\nScaleX=1234\r\n");
    files.readFails = true;
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    EXPECT_EQ(store.Current().scaleX, 1000);  // runs on defaults
    store.Save();
    EXPECT_EQ(files.writes, 0);
    EXPECT_EQ(ReadFile(), "[COMMON]\r\nScaleX=1234\r\n");
}

TEST_F(SettingsFile, AFolderWhereTheFileShouldBe) {
    fs::create_directories(path);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(files.writes, 0);
    EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(SettingsFile, FailedWriteOrReplaceKeepsTheOldFile) {
    WriteFile(kFreshFile);
    for (int round = 0; round < 2; ++round) {
        files.writeFails = round == 0;
        files.replaceFails = round == 1;
        SettingsStore store;
        store.LoadFile(path, 0, nullptr);
        store.SetDialogPos(1, 1);
        store.Save();
        EXPECT_EQ(ReadFile(), kFreshFile);
        EXPECT_EQ(FilesInFolder(), 1u);  // the temporary file is gone
    }
}

TEST_F(SettingsFile, AFolderThatRefusesNewFilesGetsTheFileRewrittenInPlace) {
    // The saved text is longer than the old file in one round and shorter in the other.
    const std::string olds[] = {"[COMMON]\r\nScaleX=900\r\n",
                                std::string(kFreshFile) + "[DEFAULT]\r\n" + std::string(3000, ';') + "\r\n"};
    for (const std::string& old : olds) {
        WriteFile(old);
        LockedFolder lock(root + "/Plugins");
        if (!lock.RefusesNewFiles()) GTEST_SKIP() << "no way to lock a folder here";
        SettingsStore store;
        store.LoadFile(path, 0, nullptr);
        store.SetDialogPos(7, 8);
        store.Save();
        std::string expected = kFreshFile;
        expected.replace(expected.find("-100\r\nDlgWndPosY=-100"), 21, "7\r\nDlgWndPosY=8");
        if (old[1] == 'C') expected.replace(expected.find("ScaleX=1000"), 11, "ScaleX=900");
        EXPECT_EQ(ReadFile(), expected);
        EXPECT_EQ(files.overwrites, 1);
        EXPECT_EQ(FilesInFolder(), 1u);
        files.overwrites = 0;
    }
}

TEST_F(SettingsFile, ReplacingKeepsThePermissions) {
    WriteFile(kFreshFile);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.SetDialogPos(1, 2);
    store.Save();
    EXPECT_NE(ReadFile(), kFreshFile);
    EXPECT_EQ(files.overwrites, 0);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(SettingsFile, ATakenTemporaryNameIsPassedOver) {
    files.takenNames = 2;
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(files.writes, 3);
    EXPECT_EQ(ReadFile(), kFreshFile);
}

TEST_F(SettingsFile, EveryMissingFolderIsCreated) {
    path = root + "/Korvanta/Instances/7/Plugins/KVX_Scaler.ini";
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(ReadFile(), kFreshFile);
}

// ---- Hostile files --------------------------------------------------------------------

TEST_F(SettingsFile, HeadersThatLeadBackDoNotLoopTheLoad) {
    // "[ 12 ]" is looked up as [12], which stands earlier: the walk must still go on.
    WriteFile(std::string(kFreshFile) + Section("12", 1200) + "[ 12 ]\r\n" + Section("13", 1300));
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.Save();
    EXPECT_EQ(ReadFile(),
              std::string(kFreshFile) + Section("12", 1200) + Section("12", 1200) + Section("13", 1300));
}

TEST_F(SettingsFile, AnyBytesLoadAndSave) {
    std::mt19937 rng(3);
    const std::string pieces[] = {"[COMMON]", "[1]", "[ 2 ]", "[-5]", "ScaleX=", "99999999999999999999",
                                  "=", "\r\n", "\n", "\r", "[", "]", " ", "[SETTINGS]", "Common=0"};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int n = rng() % 60; n > 0; --n)
            text += rng() % 5 ? pieces[rng() % 15] : std::string(1, static_cast<char>(rng()));
        WriteFile(text);
        SettingsStore store;
        store.LoadFile(path, 0, nullptr);
        ChannelProfile v;
        store.BeginFrame(1, 0, "x", &v);
        store.Save();
        // Whatever was read is written as well-formed text, which loads back to the same.
        std::string saved = ReadFile();
        SettingsStore again;
        again.LoadFile(path, 0, nullptr);
        int writes = files.writes;
        again.Save();
        EXPECT_EQ(files.writes, writes) << text;
        EXPECT_EQ(ReadFile(), saved);
    }
}

TEST_F(SettingsFile, TenThousandChannelsRoundTrip) {
    std::string text = kFreshFile;
    for (int i = 1; i <= 10000; ++i) text += Section(std::to_string(i * 7).c_str(), i % 2000);
    WriteFile(text);
    SettingsStore store;
    store.LoadFile(path, 0, nullptr);
    store.SetPerChannel(true);
    ChannelProfile v;
    store.BeginFrame(7 * 9999, 0, "", &v);
    EXPECT_EQ(v.scaleX, 9999 % 2000);
    store.SetPerChannel(false);
    store.Save();
    EXPECT_EQ(files.writes, 0);
}

// ---- Where the file lives -------------------------------------------------------------

HostEnvironment Host(const std::string& commandLine) {
    HostEnvironment env;
    env.versionKnown = true;
    env.ntFamily = true;
    env.hostExecutable = "/opt/TV/tv.exe";
    env.commandLine = commandLine;
    env.appDataKnown = true;
    env.appDataFolder = "/home/u/.config";
    return env;
}

TEST(SettingsPath, FolderRules) {
    EXPECT_EQ(ResolveSettingsPath(Host("tv.exe"), "KVX_Scaler"), "/opt/TV/Plugins/KVX_Scaler.ini");
    EXPECT_EQ(ResolveSettingsPath(Host("tv.exe /inst:2"), "KVX_Scaler"),
              "/opt/TV/Instances/2/Plugins/KVX_Scaler.ini");
    EXPECT_EQ(ResolveSettingsPath(Host("tv -INST:B"), "M"), "/opt/TV/Instances/b/Plugins/M.ini");
    EXPECT_EQ(ResolveSettingsPath(Host("tv -INST:B x /inst:7"), "M"), "/opt/TV/Instances/7/Plugins/M.ini");
    EXPECT_EQ(ResolveSettingsPath(Host("tv /inst:7 -inst:B"), "M"), "/opt/TV/Instances/7/Plugins/M.ini");
    EXPECT_EQ(ResolveSettingsPath(Host("tv -inst:3 /inst:"), "M"), "/opt/TV/Plugins/M.ini");

    HostEnvironment env = Host("tv");
    env.storeInUsersFolder = 5;
    EXPECT_EQ(ResolveSettingsPath(env, "M"), "/home/u/.config/Korvanta/Plugins/M.ini");
    env.commandLine = "tv -inst:1";
    EXPECT_EQ(ResolveSettingsPath(env, "M"), "/home/u/.config/Korvanta/Instances/1/Plugins/M.ini");
    env.appDataKnown = false;  // no user folder: the host's folder serves
    EXPECT_EQ(ResolveSettingsPath(env, "M"), "/opt/TV/Instances/1/Plugins/M.ini");
    env.appDataKnown = true;
    env.ntFamily = false;
    EXPECT_EQ(ResolveSettingsPath(env, "M"), "/opt/TV/Instances/1/Plugins/M.ini");
    env.versionKnown = false;
    EXPECT_EQ(ResolveSettingsPath(env, "M"), "");
}

}  // namespace
}  // namespace kvx
