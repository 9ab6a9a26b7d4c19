// Settings files read at Init and written at Deinit, driven through the exports: which
// channel sections are loaded, and what the next save writes.
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include "../unit/locked_folder.h"
#endif

#include "hostile_support.h"
#include "plugin_fixture.h"

namespace kvx {
namespace {

const char kDialog[] = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n";
const char kBuiltIn[] =
    "ProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=1000\r\nScaleY=1000\r\nKeepAspect=1\r\n"
    "Interlace=1\r\nDeinterlace=0\r\n";

std::string Settings(int common) { return "[SETTINGS]\r\nCommon=" + std::to_string(common) + "\r\n"; }
std::string Profile(const std::string& header, int procEnable, int scaleX) {
    return "[" + header + "]\r\nProcEnable=" + std::to_string(procEnable) +
           "\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=" + std::to_string(scaleX) +
           "\r\nScaleY=1000\r\nKeepAspect=1\r\nInterlace=1\r\nDeinterlace=0\r\n";
}

struct FileCase {
    const char* what;
    std::string file;      // the settings file at Init
    uint32_t channel;      // the channel of the one frame shown
    bool processed;        // whether that frame comes back changed
    std::string expected;  // the file after Deinit
};

TEST_F(PluginTest, SettingsFilesLoadAndSaveAsTheyShould) {
    const std::string fresh = std::string(kDialog) + Settings(1) + "[COMMON]\r\n" + kBuiltIn;
    const std::string perChannel = std::string(kDialog) + Settings(0) + "[COMMON]\r\n" + kBuiltIn;
    const FileCase cases[] = {
        {"'[ 12 ]' is looked up as the later [12]: the walk ends there, so [5] is not loaded and "
         "channel 5 starts from the defaults",
         Settings(0) + "[COMMON]\r\n[ 12 ]\r\nScaleX=700\r\n" + "[5]\r\nProcEnable=1\r\nScaleX=500\r\n" +
             "[12]\r\nScaleX=700\r\n",
         5, false,
         std::string(kDialog) + Settings(0) + "[COMMON]\r\n" + kBuiltIn + Profile("12", 0, 700) +
             Profile("5", 0, 1000)},
        {"'[ 12 ]' is looked up as the earlier [12]: the walk goes on after '[ 12 ]'",
         perChannel + Profile("12", 1, 1200) + "[ 12 ]\r\n" + Profile("13", 1, 500), 13, true,
         perChannel + Profile("12", 1, 1200) + Profile("12", 1, 1200) + Profile("13", 1, 500)},
        {"a byte-order mark does not hide the first header, and the next save drops it",
         "\xEF\xBB\xBF[DIALOG]\r\nDlgWndPosX=12\r\nDlgWndPosY=34\r\n" + Settings(1) +
             "[COMMON]\r\nProcEnable=1\r\nScaleX=500\r\n",
         3, true,
         "[DIALOG]\r\nDlgWndPosX=12\r\nDlgWndPosY=34\r\n" + Settings(1) + "[COMMON]\r\n" +
             "ProcEnable=1\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=500\r\nScaleY=1000\r\nKeepAspect=1\r\n"
             "Interlace=1\r\nDeinterlace=0\r\n" + Profile("3", 0, 1000)},
        {"AutoFit=1 in a channel record is kept, a record without it stays without",
         perChannel + Profile("12", 1, 1200) + "AutoFit=1\r\n" + Profile("13", 1, 500), 12, true,
         perChannel + Profile("12", 1, 1200) + "AutoFit=1\r\n" + Profile("13", 1, 500)},
        {"a byte-order mark before a text the save reproduces: the file is not rewritten",
         "\xEF\xBB\xBF" + fresh, 0, false, "\xEF\xBB\xBF" + fresh},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        SettingsFileScope scope(c.file);
        d->Init(nullptr);
        if (c.channel != 0) {
            VideoFormat format{64, 48, 2, 0, 0};
            ASSERT_EQ(d->FormatChange(&format), 1);
            Picture picture(format);
            const std::vector<uint8_t> original = picture.bytes;
            ChannelRecord record(c.channel, 0, "Channel");
            FrameInfo info{};
            info.pixels = picture.bytes.data();
            info.channel = record.info();
            EXPECT_EQ(d->ProcessFrame(&info), 1);
            EXPECT_EQ(picture.bytes != original, c.processed);
            d->Free();
        }
        d->Deinit();
        std::string saved;
        ASSERT_TRUE(ReadWholeFile(SettingsFilePath(), &saved));
        EXPECT_EQ(saved, c.expected);
    }
}

// The Plugins folder refuses new files while the settings file in it stays writable (an
// administrator's lock-down): the save rewrites the file in place.
TEST_F(PluginTest, ALockedDownPluginsFolderGetsItsFileRewrittenInPlace) {
    SettingsFileScope scope("[COMMON]\r\nScaleX=900\r\n");
#if defined(_WIN32)
    // Under Wine the lock comes from outside (tests/abi/locked_folder_wine.sh).
    if (!std::getenv("KVX_PLUGINS_LOCKED")) GTEST_SKIP() << "the Plugins folder is not locked";
#else
    const std::string path = SettingsFilePath();
    LockedFolder lock(path.substr(0, path.find_last_of('/')));
    if (!lock.RefusesNewFiles()) GTEST_SKIP() << "no way to lock a folder here";
#endif
    d->Init(nullptr);
    d->Deinit();
    std::string saved;
    ASSERT_TRUE(ReadWholeFile(SettingsFilePath(), &saved));
    EXPECT_EQ(saved, std::string(kDialog) + Settings(1) +
                         "[COMMON]\r\nProcEnable=0\r\nOffsetX=0\r\nOffsetY=0\r\nScaleX=900\r\n"
                         "ScaleY=1000\r\nKeepAspect=1\r\nInterlace=1\r\nDeinterlace=0\r\n");
}

#if defined(_WIN32)
TEST_F(PluginTest, ASavedFileKeepsItsAttributes) {
    SettingsFileScope scope("[COMMON]\r\nScaleX=900\r\n");
    const std::string path = SettingsFilePath();
    const DWORD wanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), wanted));
    const DWORD before = GetFileAttributesA(path.c_str());
    if ((before & wanted) != wanted) GTEST_SKIP() << "this file system keeps no such attributes";
    d->Init(nullptr);
    d->Deinit();
    EXPECT_EQ(GetFileAttributesA(path.c_str()), before);
    std::string saved;
    ASSERT_TRUE(ReadWholeFile(path, &saved));
    EXPECT_NE(saved.find("ScaleX=900\r\nScaleY=1000"), std::string::npos);  // it was saved
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace
}  // namespace kvx
