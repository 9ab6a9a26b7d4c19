// Settings durability: no file-system fault and no memory shortage loses the previous
// settings file, and the next save that succeeds writes the whole text.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "locked_folder.h"
#include "platform/file_system.h"
#include "settings/settings_store.h"

namespace kvx {
namespace {

namespace fs = std::filesystem;

enum class Fault { None, ReadFails, OpenFails, HalfWritten, FlushFails, ReplaceFails };

// The system's own file operations with one fault switched in.
class FaultyFiles : public FileSystem {
public:
    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        if (fault == Fault::ReadFails) return ReadStatus::kUnreadable;  // opened, then the read failed
        return real.ReadWhole(path, bytes);
    }
    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        switch (fault) {
            case Fault::OpenFails: return CreateStatus::kFailed;
            case Fault::HalfWritten: real.WriteNew(path, data, size / 2); return CreateStatus::kFailed;
            case Fault::FlushFails: real.WriteNew(path, data, size); return CreateStatus::kFailed;
            default: return real.WriteNew(path, data, size);
        }
    }
    bool Replace(const std::string& source, const std::string& target) override {
        return fault != Fault::ReplaceFails && real.Replace(source, target);
    }
    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        return real.Overwrite(path, data, size);
    }
    void Remove(const std::string& path) override { real.Remove(path); }
    void CreateFolder(const std::string& path) override { real.CreateFolder(path); }

    FileSystem& real = SystemFiles();
    Fault fault = Fault::None;
};

// Memory that runs out after a number of successful (re)allocations (negative: never).
long g_allocationsLeft = -1;
void* RunsOut(void* block, size_t size) {
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    return std::realloc(block, size);
}
// Memory for blocks up to a size only: the output buffer cannot grow past its first 100000 bytes.
void* SmallBlocksOnly(void* block, size_t size) { return size > 100000 ? nullptr : std::realloc(block, size); }

class SettingsDurability : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/kvx_durability_XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        previous = SetFiles(&files);
        // The user's file: per-channel mode, three channels, a placed dialog.
        SettingsStore store;
        store.LoadFile(Path("old"), 0, nullptr);
        store.SetPerChannel(true);
        for (uint32_t key : {11u, 12u, 13u}) {
            store.SelectChannel(key, 0);
            store.EditCurrent([&](ChannelProfile& p) { p.scaleX = 1000 + static_cast<int32_t>(key); });
        }
        store.SetDialogPos(40, 50);
        store.Save();
        oldText = Read(Path("old"));
        ASSERT_NE(oldText.find("[13]\r\n"), std::string::npos);
    }
    void TearDown() override {
        SetFiles(previous);
        g_allocationsLeft = -1;
        fs::remove_all(root);
    }
    std::string Path(const std::string& folder) { return root + "/" + folder + "/KVX_Scaler.ini"; }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t FilesBeside(const std::string& path) {
        size_t n = 0;
        for (auto& entry : fs::directory_iterator(fs::path(path).parent_path())) n += entry.is_regular_file();
        return n;
    }
    // The session a user would have: load, change a value, meet a new channel, save.
    static void Session(SettingsStore& store, const std::string& path) {
        store.LoadFile(path, 0, nullptr);
        store.SelectChannel(12, 0);
        store.EditCurrent([](ChannelProfile& p) { p.offsetX = -77; });
        store.SelectChannel(14, 0);
        store.Save();
    }
    // What that session writes when nothing goes wrong.
    std::string ExpectedAfterSession() {
        fs::create_directories(root + "/reference");
        fs::copy_file(Path("old"), Path("reference"));
        SettingsStore store;
        Session(store, Path("reference"));
        return Read(Path("reference"));
    }

    FaultyFiles files;
    FileSystem* previous = nullptr;
    std::string root, oldText;
};

TEST_F(SettingsDurability, NoFileFaultLosesTheOldFileAndTheNextSaveWritesItAll) {
    const std::string expected = ExpectedAfterSession();
    ASSERT_NE(expected, oldText);
    for (Fault fault : {Fault::OpenFails, Fault::HalfWritten, Fault::FlushFails, Fault::ReplaceFails,
                        Fault::ReadFails}) {
        SCOPED_TRACE(static_cast<int>(fault));
        fs::create_directories(root + "/user");
        fs::copy_file(Path("old"), Path("user"), fs::copy_options::overwrite_existing);
        files.fault = fault;
        {
            SettingsStore store;
            Session(store, Path("user"));
        }
        EXPECT_EQ(Read(Path("user")), oldText);
        EXPECT_EQ(FilesBeside(Path("user")), 1u) << "a temporary file was left behind";
        files.fault = Fault::None;
        {
            SettingsStore store;
            Session(store, Path("user"));
        }
        EXPECT_EQ(Read(Path("user")), expected);
    }
}

// The system's own file layer when the disk fills: a child process whose files may not
// grow past a few bytes more than the old file saves the session. Neither the temporary
// file nor, in a folder that refuses new files, the rewrite in place may cost the old text.
TEST_F(SettingsDurability, AFileSizeLimitInTheRealFileLayerKeepsTheOldFile) {
    const std::string expected = ExpectedAfterSession();
    ASSERT_GT(expected.size(), oldText.size() + 16);
    for (bool folderLocked : {false, true}) {
        SCOPED_TRACE(folderLocked ? "folder refuses new files" : "temporary file beside it");
        fs::create_directories(root + "/user");
        fs::copy_file(Path("old"), Path("user"), fs::copy_options::overwrite_existing);
        std::unique_ptr<LockedFolder> lock;
        if (folderLocked) {
            lock = std::make_unique<LockedFolder>(root + "/user");
            if (!lock->RefusesNewFiles()) GTEST_SKIP() << "no way to lock a folder here";
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlim_t limit = oldText.size() + 16;
            const rlimit size{limit, limit};
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead of killing us
            if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(2);
            SetFiles(nullptr);
            SettingsStore store;
            Session(store, Path("user"));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(Read(Path("user")), oldText);
        EXPECT_EQ(FilesBeside(Path("user")), 1u) << "a temporary file was left behind";
        // Without the limit the same session saves it all.
        {
            SettingsStore store;
            Session(store, Path("user"));
        }
        EXPECT_EQ(Read(Path("user")), expected);
    }
}

TEST_F(SettingsDurability, AnOutputBufferThatCannotBeHadWritesNothing) {
    g_allocationsLeft = 0;
    SettingsStore store;
    store.SetReallocate(RunsOut);
    Session(store, Path("old"));
    EXPECT_EQ(Read(Path("old")), oldText);
}

TEST_F(SettingsDurability, AnOutputBufferThatCannotGrowWritesNothing) {
    // Two thousand channels make a text of over 100000 bytes: the buffer must grow once.
    SettingsStore store;
    store.LoadFile(Path("old"), 0, nullptr);
    for (uint32_t key = 100; key < 2100; ++key) store.SelectChannel(key, 0);
    store.SetReallocate(SmallBlocksOnly);
    store.Save();
    EXPECT_EQ(Read(Path("old")), oldText);  // a file without the lines that did not fit would lose them
    store.SetReallocate(nullptr);
    store.Save();
    const std::string whole = Read(Path("old"));
    EXPECT_GT(whole.size(), 100000u);
    EXPECT_NE(whole.find("[2099]\r\n"), std::string::npos);
    EXPECT_EQ(whole.compare(whole.size() - 15, 15, "Deinterlace=0\r\n"), 0);
}

TEST_F(SettingsDurability, ArraysThatCannotGrowKeepEveryLoadedRecord) {
    SettingsStore store;
    store.LoadFile(Path("old"), 0, nullptr);
    store.SetReallocate(RunsOut);
    g_allocationsLeft = 0;  // new channels find no room
    for (uint32_t key = 200; key < 240; ++key) {
        ChannelProfile values;
        store.BeginFrame(key, 0, "new", &values);
        store.TakeSnapshot();
        store.RestoreSnapshot();
    }
    g_allocationsLeft = -1;
    store.SelectChannel(13, 0);
    EXPECT_EQ(store.Current().scaleX, 1013);
    store.Save();
    const std::string text = Read(Path("old"));
    for (const char* header : {"[11]\r\n", "[12]\r\n", "[13]\r\n"})
        EXPECT_NE(text.find(header), std::string::npos) << header;
}

}  // namespace
}  // namespace kvx
