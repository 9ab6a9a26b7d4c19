#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "settings/channel_profiles.h"

namespace kvx {
namespace {

ChannelProfile WithKey(ChannelProfile p, uint32_t low, uint32_t high) {
    p.SetKey(low, high);
    return p;
}

bool Same(const ChannelProfile& a, const ChannelProfile& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---- Profiles --------------------------------------------------------------------------

TEST(ChannelProfiles, StartLikeAnEmptyLoad) {
    ChannelProfiles p;
    EXPECT_FALSE(p.IsPerChannel());
    EXPECT_EQ(p.ActiveIndex(), -1);
    ASSERT_EQ(p.Count(), 1u);
    EXPECT_TRUE(Same(p.Record(0), kBuiltInProfile));
    EXPECT_TRUE(Same(p.current, kBuiltInProfile));
    EXPECT_EQ(p.dialogX, -100);
    EXPECT_EQ(p.dialogY, -100);
}

TEST(ChannelProfiles, FirstSelectionAlwaysChangesAndRepeatsDoNot) {
    ChannelProfiles p;
    EXPECT_TRUE(p.SelectChannel(0, 0));  // record 0 exists, still a change
    EXPECT_EQ(p.ActiveIndex(), 0);
    EXPECT_FALSE(p.SelectChannel(0, 0));
    EXPECT_TRUE(p.SelectChannel(5, 1));
    EXPECT_FALSE(p.SelectChannel(5, 1));
    EXPECT_EQ(p.Count(), 2u);
    EXPECT_EQ(p.Record(1).Key(), (uint64_t{1} << 32) | 5);
}

TEST(ChannelProfiles, ChannelZeroEditsCommonInPerChannelMode) {
    ChannelProfiles p;
    p.SetPerChannel(true);
    p.SelectChannel(0, 0);
    p.current.offsetX = 33;
    p.SelectChannel(7, 0);
    EXPECT_EQ(p.Record(0).offsetX, 33);
    EXPECT_EQ(p.current.offsetX, 0);
}

TEST(ChannelProfiles, CommonModeStillCreatesRecordsFromDefault) {
    ChannelProfiles p;
    p.defaults.scaleY = 1200;
    p.current.scaleY = 500;
    p.StoreActiveProfile();  // COMMON now has 500
    EXPECT_TRUE(p.SelectChannel(9, 0));
    EXPECT_EQ(p.current.scaleY, 500);  // common mode shows COMMON
    p.SetPerChannel(true);
    EXPECT_EQ(p.current.scaleY, 1200);  // the channel's own record came from DEFAULT
    EXPECT_EQ(p.current.keyLow, 9u);
    p.SetPerChannel(false);
    EXPECT_EQ(p.current.scaleY, 500);
}

TEST(ChannelProfiles, CancelKeepsAChannelMetWhileTheDialogWasOpen) {
    ChannelProfiles p;
    p.SetPerChannel(true);
    p.SelectChannel(1, 0);
    p.TakeSnapshot();
    p.current.offsetY = 50;  // edit in the dialog, then the channel changes
    p.SelectChannel(2, 0);
    p.current.offsetY = 60;
    p.RestoreSnapshot();
    ASSERT_EQ(p.Count(), 3u);
    EXPECT_EQ(p.ActiveIndex(), 2);
    EXPECT_EQ(p.current.keyLow, 2u);
    EXPECT_EQ(p.current.offsetY, 0);
    EXPECT_EQ(p.Record(1).offsetY, 0);  // the edit made before the change is undone
}

TEST(ChannelProfiles, ResetThenCancelBringsBackTheOpeningValues) {
    ChannelProfiles p;
    p.SetPerChannel(true);
    p.SelectChannel(3, 0);
    p.current.scaleX = 1500;
    p.TakeSnapshot();
    p.ResetToDefaults();
    EXPECT_EQ(p.current.scaleX, 1000);
    EXPECT_EQ(p.current.keyLow, 3u);  // the key stays
    p.RestoreSnapshot();
    EXPECT_EQ(p.current.scaleX, 1500);
}

TEST(ChannelProfiles, ResetIsStoredOnLeavingTheChannel) {
    ChannelProfiles p;
    p.SetPerChannel(true);
    p.SelectChannel(3, 0);
    p.current.scaleX = 1500;
    p.SelectChannel(4, 0);
    p.SelectChannel(3, 0);
    EXPECT_EQ(p.current.scaleX, 1500);
    p.ResetToDefaults();
    p.SelectChannel(4, 0);
    p.SelectChannel(3, 0);
    EXPECT_EQ(p.current.scaleX, 1000);
}

TEST(ChannelProfiles, RestoreWithoutSnapshotChangesNothing) {
    ChannelProfiles p;
    p.SelectChannel(3, 0);
    p.current.offsetX = 5;
    p.RestoreSnapshot();
    EXPECT_EQ(p.Count(), 2u);
    EXPECT_EQ(p.current.offsetX, 5);
}

TEST(ProfileArray, GrowsByAnEighthBetween4And1024Records) {
    ProfileArray a;
    std::vector<size_t> capacities;
    for (int i = 0; i < 20000; ++i) {
        size_t before = a.Capacity();
        ASSERT_TRUE(a.Append(WithKey(kBuiltInProfile, i, 0)));
        if (a.Capacity() != before) capacities.push_back(a.Capacity());
    }
    ASSERT_GE(capacities.size(), 4u);
    EXPECT_EQ(capacities[0], 4u);
    EXPECT_EQ(capacities[1], 8u);
    EXPECT_EQ(capacities[2], 12u);
    for (size_t i = 1; i < capacities.size(); ++i) {
        size_t size = capacities[i - 1];  // growth happens when the array is full
        size_t step = std::min<size_t>(std::max<size_t>(size / 8, 4), 1024);
        EXPECT_EQ(capacities[i], capacities[i - 1] + step);
    }
    EXPECT_EQ(a[19999].keyLow, 19999u);
}

std::atomic<bool> g_failAllocations{false};
void* FailingRealloc(void* p, size_t size) {
    return g_failAllocations ? nullptr : std::realloc(p, size);
}

TEST(ChannelProfiles, WithoutMemoryBothArraysStayInStep) {
    ChannelProfiles p;
    p.SetReallocate(FailingRealloc);
    p.SetPerChannel(true);
    for (uint32_t k = 1; k <= 15; ++k) p.SelectChannel(k, 0);  // fills the first allocation
    p.TakeSnapshot();
    g_failAllocations = true;
    for (uint32_t k = 100; k < 140; ++k) {
        EXPECT_TRUE(p.SelectChannel(k, 0));
        EXPECT_EQ(p.current.keyLow, k);  // runs on DEFAULT values without a record
    }
    size_t count = p.Count();
    p.RestoreSnapshot();
    EXPECT_EQ(p.Count(), count);
    EXPECT_TRUE(p.ActiveIndex() == -1 || static_cast<size_t>(p.ActiveIndex()) < p.Count());
    g_failAllocations = false;
    EXPECT_TRUE(p.SelectChannel(200, 0));
    EXPECT_EQ(p.Count(), count + 1);
    p.RestoreSnapshot();  // the new record reached the snapshot too
    EXPECT_EQ(p.Count(), count + 1);
    EXPECT_EQ(p.current.keyLow, 200u);
}

// ---- The store -------------------------------------------------------------------------

TEST(SettingsStore, IsUsableBeforeLoad) {
    SettingsStore store;
    ChannelProfile values;
    EXPECT_TRUE(store.BeginFrame(1, 2, "One", &values));
    EXPECT_TRUE(Same(values, kBuiltInProfile));  // common mode: COMMON's built-in values
    char name[8];
    store.CopyChannelName(name, sizeof name);
    EXPECT_STREQ(name, "One");
    store.TakeSnapshot();
    store.RestoreSnapshot();
    store.Save();  // no path: nothing to write, nothing breaks
    EXPECT_TRUE(store.SettingsPath().empty());
}

TEST(SettingsStore, ChannelNameIsCopiedOnChangeAndTruncated) {
    SettingsStore store;
    std::string longName(400, 'n');
    ChannelProfile values;
    store.BeginFrame(1, 0, longName.c_str(), &values);
    char name[kChannelNameMax + 10];
    store.CopyChannelName(name, sizeof name);
    EXPECT_EQ(std::strlen(name), kChannelNameMax - 1);
    store.BeginFrame(1, 0, "other", &values);  // same channel: the name stays
    store.CopyChannelName(name, 4);
    EXPECT_STREQ(name, "nnn");
    store.BeginFrame(2, 0, nullptr, &values);
    store.CopyChannelName(name, sizeof name);
    EXPECT_STREQ(name, "");
}

TEST(SettingsStore, FramesSeeDialogEditsWhole) {
    SettingsStore store;
    store.SetPerChannel(true);
    ChannelProfile values;
    store.BeginFrame(8, 0, "Eight", &values);
    store.EditCurrent([](ChannelProfile& p) {
        p.scaleX = 1234;
        p.scaleY = 1234;
    });
    EXPECT_FALSE(store.BeginFrame(8, 0, "Eight", &values));
    EXPECT_EQ(values.scaleX, 1234);
    EXPECT_EQ(store.Current().scaleY, 1234);
    store.SetDialogPos(10, -20);
    int32_t x, y;
    store.GetDialogPos(&x, &y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, -20);
}

// Frames on one thread, the dialog's operations on another: run under ThreadSanitizer
// (KVX_SANITIZE=thread) this shows any store state touched outside the lock.
struct Race {
    SettingsStore store;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
};

void* FrameThread(void* arg) {
    Race& race = *static_cast<Race*>(arg);
    ChannelProfile values;
    for (uint32_t i = 0; !race.stop; ++i) {
        race.store.BeginFrame(i % 37, i % 3, "channel", &values);
        if (values.scaleX != values.scaleY) ++race.torn;  // the dialog keeps them equal
    }
    return nullptr;
}

TEST(SettingsStore, FramesAndDialogOnTwoThreads) {
    Race race;
    pthread_t frames;
    ASSERT_EQ(pthread_create(&frames, nullptr, FrameThread, &race), 0);
    char name[64];
    for (int i = 0; i < 20000; ++i) {
        switch (i % 8) {
        case 0: race.store.TakeSnapshot(); break;
        case 1: race.store.EditCurrent([i](ChannelProfile& p) { p.scaleX = p.scaleY = 500 + i % 1000; }); break;
        case 2: race.store.SetPerChannel(i % 16 == 2); break;
        case 3: race.store.RestoreSnapshot(); break;
        case 4: race.store.ResetToDefaults(); break;
        case 5: race.store.CopyChannelName(name, sizeof name); break;
        case 6: race.store.SetDialogPos(i, -i); break;
        case 7: (void)race.store.IsPerChannel(); (void)race.store.Current(); break;
        }
    }
    race.stop = true;
    pthread_join(frames, nullptr);
    EXPECT_EQ(race.torn, 0);
}

}  // namespace
}  // namespace kvx
