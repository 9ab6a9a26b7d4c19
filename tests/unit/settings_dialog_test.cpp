// The settings dialog's behaviour, driven through a fake view against the real store.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <thread>

#include "settings/settings_store.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_view.h"
#include "ui/settings_dialog_logic.h"

namespace kvx {
namespace {

constexpr uint32_t kThumbPosition = 4;
constexpr uint32_t kEndScroll = 8;

// Controls the way the platform's do: check boxes toggle on click, up-down controls keep a
// 16-bit position and step inside their range; posted refreshes wait in a queue.
class FakeView : public DialogView {
public:
    void SetText(int id, const char* text) override { texts[id] = text; ++calls; }
    void SetCheck(int id, uint32_t state) override { checks[id] = state; ++calls; }
    uint32_t GetCheck(int id) override { return checks[id]; }
    void SetSpinPos(int id, int32_t pos) override {
        spins[id] = static_cast<int16_t>(pos & 0xFFFF);
        ++calls;
    }
    void SetUpSpin(int id, int buddy, int32_t lower, int32_t upper) override {
        buddies[id] = buddy;
        ranges[id] = {lower, upper};
    }
    void Enable(int id, bool on) override { enabled[id] = on; ++calls; }
    Rect WindowRect() override { return window; }
    bool OwnerRect(Rect* r) override {
        if (!hasOwner) return false;
        *r = owner;
        return true;
    }
    void MoveTo(int32_t x, int32_t y) override { OffsetRect(window, x - window.left, y - window.top); }
    void ScreenSize(int32_t* w, int32_t* h) override { *w = screenW, *h = screenH; }
    void PostRefresh(uint32_t code) override { queue.push_back(code); }
    void PostClose() override { closePosted = true; }
    void Destroy() override { destroyed = true; }

    std::map<int, std::string> texts;
    std::map<int, uint32_t> checks;
    std::map<int, int32_t> spins;
    std::map<int, int> buddies;
    std::map<int, std::pair<int32_t, int32_t>> ranges;
    std::map<int, bool> enabled;
    std::deque<uint32_t> queue;
    int calls = 0;
    bool closePosted = false, destroyed = false, hasOwner = true;
    Rect window{0, 0, 300, 220};
    Rect owner{100, 100, 740, 580};
    int32_t screenW = 1024, screenH = 768;
};

const int kProcessingControls[] = {IDC_OFFSET_X_SPIN, IDC_OFFSET_Y_SPIN, IDC_SCALE_X_SPIN,
                                   IDC_SCALE_Y_SPIN,  IDC_OFFSET_X_EDIT, IDC_OFFSET_Y_EDIT,
                                   IDC_SCALE_X_EDIT,  IDC_SCALE_Y_EDIT,  IDC_KEEP_ASPECT_CHECK,
                                   IDC_INTERLACE_CHECK, IDC_DEINTERLACE_CHECK};

class SettingsDialogTest : public ::testing::Test {
protected:
    void Open() {
        logic.OnInitDialog();
        Pump();
    }
    void Pump() {
        while (!view.queue.empty()) {
            uint32_t code = view.queue.front();
            view.queue.pop_front();
            logic.OnRefresh(code);
        }
    }
    void Click(int id) {
        view.checks[id] = view.checks[id] ? 0 : 1;
        logic.OnButtonClicked(id);
        Pump();
    }
    void Press(int id) {
        logic.OnButtonClicked(id);
        Pump();
    }
    // One arrow click: +1 for up / right, -1 for down / left, inside the range.
    void Step(int spin, int delta) {
        int32_t pos = view.spins[spin] + delta;
        auto [lower, upper] = view.ranges[spin];
        if (pos < lower) pos = lower;
        if (pos > upper) pos = upper;
        view.spins[spin] = pos;
        const uintptr_t wParam = (static_cast<uintptr_t>(pos & 0xFFFF) << 16) | kThumbPosition;
        logic.OnSpin(spin, kThumbPosition, ScrollPosition(wParam));
        logic.OnSpin(spin, kEndScroll, 0);
        Pump();
    }
    void Edit(void (*edit)(ChannelProfile&)) { store.EditCurrent(edit); }
    ChannelProfile Now() const { return store.Current(); }

    SettingsStore store;
    FakeView view;
    SettingsDialogLogic logic{store, view};
};

TEST_F(SettingsDialogTest, OpeningSetsUpTheFourUpDownsAndFillsEveryControl) {
    Edit([](ChannelProfile& p) { p = ChannelProfile{0, 0, 1, -15, 0, 1000, 1000, 0, 1, 0, 1}; });
    Open();
    EXPECT_EQ(view.buddies[IDC_OFFSET_X_SPIN], IDC_OFFSET_X_EDIT);
    EXPECT_EQ(view.buddies[IDC_OFFSET_Y_SPIN], IDC_OFFSET_Y_EDIT);
    EXPECT_EQ(view.buddies[IDC_SCALE_X_SPIN], IDC_SCALE_X_EDIT);
    EXPECT_EQ(view.buddies[IDC_SCALE_Y_SPIN], IDC_SCALE_Y_EDIT);
    EXPECT_EQ(view.ranges[IDC_OFFSET_X_SPIN], std::make_pair(-500, 500));
    EXPECT_EQ(view.ranges[IDC_OFFSET_Y_SPIN], std::make_pair(-500, 500));
    EXPECT_EQ(view.ranges[IDC_SCALE_X_SPIN], std::make_pair(700, 1300));
    EXPECT_EQ(view.ranges[IDC_SCALE_Y_SPIN], std::make_pair(700, 1300));
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "-1.5");
    EXPECT_EQ(view.texts[IDC_OFFSET_Y_EDIT], "0.0");
    EXPECT_EQ(view.texts[IDC_SCALE_X_EDIT], "100.0");
    EXPECT_EQ(view.texts[IDC_CHANNEL_LABEL], "");  // no frame yet: no channel name
    EXPECT_EQ(view.spins[IDC_OFFSET_X_SPIN], -15);
    EXPECT_EQ(view.checks[IDC_ENABLE_CHECK], 1u);
    EXPECT_EQ(view.checks[IDC_KEEP_ASPECT_CHECK], 0u);
    EXPECT_EQ(view.checks[IDC_INTERLACE_CHECK], 1u);
    EXPECT_EQ(view.checks[IDC_AUTO_FIT_CHECK], 1u);
    for (int id : kProcessingControls) EXPECT_TRUE(view.enabled[id]) << id;
}

TEST_F(SettingsDialogTest, OneStepEitherWayShowsTenthsOfAPerCent) {
    Open();
    Step(IDC_OFFSET_X_SPIN, +1);
    EXPECT_EQ(Now().offsetX, 1);
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "0.1");
    Step(IDC_OFFSET_X_SPIN, -1);
    Step(IDC_OFFSET_X_SPIN, -1);
    EXPECT_EQ(Now().offsetX, -1);  // the 16-bit position widened as a signed value
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "-0.1");
    Step(IDC_OFFSET_Y_SPIN, -1);
    EXPECT_EQ(Now().offsetY, -1);
    EXPECT_EQ(view.texts[IDC_OFFSET_Y_EDIT], "-0.1");
}

TEST_F(SettingsDialogTest, RangeEndsAndOutOfRangeValuesShowUnchanged) {
    char text[32];
    const std::pair<int32_t, const char*> cases[] = {
        {700, "70.0"}, {1300, "130.0"}, {-500, "-50.0"}, {500, "50.0"}, {0, "0.0"},
        {-15, "-1.5"}, {1001, "100.1"}, {2000, "200.0"}, {-900, "-90.0"}};
    for (auto [value, expected] : cases) {
        FormatPerMille(value, text, sizeof text);
        EXPECT_STREQ(text, expected) << value;
    }
    // A hand-edited file: shown as it stands, the up-down gets the low 16 bits, nothing clamps.
    Edit([](ChannelProfile& p) { p.scaleX = 2000, p.offsetX = -900, p.scaleY = 70000; });
    Open();
    EXPECT_EQ(Now().scaleX, 2000);
    EXPECT_EQ(Now().offsetX, -900);
    EXPECT_EQ(view.texts[IDC_SCALE_X_EDIT], "200.0");
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "-90.0");
    EXPECT_EQ(view.texts[IDC_SCALE_Y_EDIT], "7000.0");
    EXPECT_EQ(view.spins[IDC_SCALE_Y_SPIN], static_cast<int16_t>(70000 & 0xFFFF));
}

TEST_F(SettingsDialogTest, ScrollPositionIsTheSignedHighWord) {
    EXPECT_EQ(ScrollPosition(0xFFFF0004u), -1);
    EXPECT_EQ(ScrollPosition(0xFE0C0004u), -500);
    EXPECT_EQ(ScrollPosition(0x01F40004u), 500);
    EXPECT_EQ(ScrollPosition(0x05140004u), 1300);
    EXPECT_EQ(ScrollPosition(0x80000004u), -32768);
}

TEST_F(SettingsDialogTest, OnlyTheThumbPositionCodeStepsAValue) {
    Open();
    for (uint32_t code : {0u, 1u, 5u, 8u}) logic.OnSpin(IDC_OFFSET_X_SPIN, code, 7);
    logic.OnSpin(IDC_OK_BUTTON, kThumbPosition, 7);  // not an up-down control
    EXPECT_TRUE(view.queue.empty());
    EXPECT_EQ(Now().offsetX, 0);
}

TEST_F(SettingsDialogTest, KeepProportionsMovesBothScales) {
    Open();  // built-in values: keep proportions on, both scales 1000
    Step(IDC_SCALE_X_SPIN, +1);
    EXPECT_EQ(Now().scaleX, 1001);
    EXPECT_EQ(Now().scaleY, 1001);
    EXPECT_EQ(view.texts[IDC_SCALE_X_EDIT], "100.1");
    EXPECT_EQ(view.texts[IDC_SCALE_Y_EDIT], "100.1");
    EXPECT_EQ(view.spins[IDC_SCALE_Y_SPIN], 1001);
    Step(IDC_SCALE_Y_SPIN, -1);
    Step(IDC_SCALE_Y_SPIN, -1);
    EXPECT_EQ(Now().scaleX, 999);
    EXPECT_EQ(view.spins[IDC_SCALE_X_SPIN], 999);
    EXPECT_EQ(view.texts[IDC_SCALE_X_EDIT], "99.9");
}

TEST_F(SettingsDialogTest, KeepProportionsClickCopiesScaleXEitherWay) {
    Edit([](ChannelProfile& p) { p.keepAspect = 0, p.scaleX = 1100, p.scaleY = 900; });
    Open();
    Step(IDC_SCALE_X_SPIN, +1);
    Step(IDC_SCALE_Y_SPIN, -1);
    EXPECT_EQ(Now().scaleX, 1101);
    EXPECT_EQ(Now().scaleY, 899);

    Click(IDC_KEEP_ASPECT_CHECK);  // ticked
    EXPECT_EQ(Now().keepAspect, 1u);
    EXPECT_EQ(Now().scaleY, 1101);
    EXPECT_EQ(view.spins[IDC_SCALE_Y_SPIN], 1101);
    EXPECT_EQ(view.texts[IDC_SCALE_Y_EDIT], "110.1");

    Edit([](ChannelProfile& p) { p.keepAspect = 0, p.scaleX = 1200, p.scaleY = 800; });
    view.checks[IDC_KEEP_ASPECT_CHECK] = 1;
    Click(IDC_KEEP_ASPECT_CHECK);  // cleared: ScaleY still takes ScaleX
    EXPECT_EQ(Now().keepAspect, 0u);
    EXPECT_EQ(Now().scaleX, 1200);
    EXPECT_EQ(Now().scaleY, 1200);
}

TEST_F(SettingsDialogTest, EnableCheckGreysExactlyTheElevenControls) {
    Edit([](ChannelProfile& p) { p.procEnable = 1; });
    Open();
    const int calls = view.calls;
    Click(IDC_ENABLE_CHECK);
    EXPECT_EQ(Now().procEnable, 0u);
    for (int id : kProcessingControls) EXPECT_FALSE(view.enabled[id]) << id;
    EXPECT_EQ(view.calls - calls, 11);  // the eleven EnableWindow calls and nothing else
    for (int id : {IDC_ENABLE_CHECK, IDC_PER_CHANNEL_CHECK, IDC_CHANNEL_LABEL, IDC_OK_BUTTON,
                   IDC_CANCEL_BUTTON, IDC_DEFAULTS_BUTTON, IDC_ABOUT_BUTTON, IDC_AUTO_FIT_CHECK})
        EXPECT_EQ(view.enabled.count(id), 0u) << id;
    Click(IDC_ENABLE_CHECK);
    EXPECT_EQ(Now().procEnable, 1u);
    for (int id : kProcessingControls) EXPECT_TRUE(view.enabled[id]) << id;
}

TEST_F(SettingsDialogTest, PlainCheckBoxesStoreTheirStateWithoutRefresh) {
    Open();
    Click(IDC_INTERLACE_CHECK);
    EXPECT_TRUE(view.queue.empty());
    EXPECT_EQ(Now().interlace, 0u);
    Click(IDC_DEINTERLACE_CHECK);
    EXPECT_TRUE(view.queue.empty());
    EXPECT_EQ(Now().deinterlace, 1u);
    Click(IDC_AUTO_FIT_CHECK);
    EXPECT_TRUE(view.queue.empty());
    EXPECT_EQ(Now().autoFit, 1u);
    Click(IDC_AUTO_FIT_CHECK);
    EXPECT_EQ(Now().autoFit, 0u);
}

TEST_F(SettingsDialogTest, UnknownRefreshCodesChangeNothing) {
    Open();
    const int calls = view.calls;
    for (uint32_t code : {6u, 7u, 100u, 0x590u, 0xFFFFFFFFu}) logic.OnRefresh(code);
    EXPECT_EQ(view.calls, calls);
}

TEST_F(SettingsDialogTest, DefaultsTakeTheDefaultProfileAndGrey) {
    Edit([](ChannelProfile& p) { p = ChannelProfile{0, 0, 1, 40, -30, 1200, 900, 0, 0, 1, 1}; });
    Open();
    Press(IDC_DEFAULTS_BUTTON);
    const ChannelProfile now = Now();
    EXPECT_EQ(now.procEnable, 0u);
    EXPECT_EQ(now.scaleX, 1000);
    EXPECT_EQ(now.scaleY, 1000);
    EXPECT_EQ(now.offsetX, 0);
    EXPECT_EQ(now.keepAspect, 1u);
    EXPECT_EQ(now.interlace, 1u);
    EXPECT_EQ(now.deinterlace, 0u);
    EXPECT_EQ(now.autoFit, 0u);
    EXPECT_EQ(view.checks[IDC_AUTO_FIT_CHECK], 0u);
    EXPECT_EQ(view.texts[IDC_SCALE_X_EDIT], "100.0");
    EXPECT_EQ(view.texts[IDC_SCALE_Y_EDIT], "100.0");
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "0.0");
    EXPECT_EQ(view.texts[IDC_OFFSET_Y_EDIT], "0.0");
    EXPECT_EQ(view.checks[IDC_ENABLE_CHECK], 0u);
    for (int id : kProcessingControls) EXPECT_FALSE(view.enabled[id]) << id;
}

TEST_F(SettingsDialogTest, CancelAfterSeveralChangesRestoresTheOpeningValues) {
    const ChannelProfile opening{0, 0, 1, 10, -20, 1100, 1100, 1, 0, 0, 1};
    store.EditCurrent([&](ChannelProfile& p) { p = opening; });
    Open();
    Step(IDC_OFFSET_X_SPIN, +1);
    Step(IDC_SCALE_X_SPIN, +1);
    Click(IDC_INTERLACE_CHECK);
    Click(IDC_KEEP_ASPECT_CHECK);
    Click(IDC_AUTO_FIT_CHECK);
    Press(IDC_DEFAULTS_BUTTON);
    Press(IDC_CANCEL_BUTTON);
    EXPECT_TRUE(view.closePosted);  // Cancel closes through WM_CLOSE
    EXPECT_FALSE(view.destroyed);
    logic.OnClose();
    EXPECT_TRUE(view.destroyed);
    const ChannelProfile now = Now();
    EXPECT_EQ(now.procEnable, opening.procEnable);
    EXPECT_EQ(now.offsetX, opening.offsetX);
    EXPECT_EQ(now.offsetY, opening.offsetY);
    EXPECT_EQ(now.scaleX, opening.scaleX);
    EXPECT_EQ(now.scaleY, opening.scaleY);
    EXPECT_EQ(now.keepAspect, opening.keepAspect);
    EXPECT_EQ(now.interlace, opening.interlace);
    EXPECT_EQ(now.deinterlace, opening.deinterlace);
    EXPECT_EQ(now.autoFit, opening.autoFit);
}

TEST_F(SettingsDialogTest, OkKeepsTheChangesAndEveryCloseRecordsThePosition) {
    Open();
    Step(IDC_OFFSET_Y_SPIN, +1);
    Press(IDC_OK_BUTTON);
    EXPECT_TRUE(view.destroyed);
    EXPECT_FALSE(view.closePosted);
    view.MoveTo(-40, 333);
    logic.OnDestroy();
    EXPECT_EQ(Now().offsetY, 1);
    int32_t x = 0, y = 0;
    store.GetDialogPos(&x, &y);
    EXPECT_EQ(x, -40);
    EXPECT_EQ(y, 333);
}

TEST_F(SettingsDialogTest, ChannelChangeWhileOpenReloadsLabelAndControls) {
    ChannelProfile frame;
    store.BeginFrame(1, 0, "First", &frame);
    Open();
    EXPECT_EQ(view.texts[IDC_CHANNEL_LABEL], "First");
    Click(IDC_PER_CHANNEL_CHECK);
    EXPECT_TRUE(store.IsPerChannel());
    Step(IDC_OFFSET_X_SPIN, +1);  // edits channel 1's own profile

    // The frame path switches to a channel met for the first time and posts code 0.
    EXPECT_TRUE(store.BeginFrame(2, 0, "\xCF\xE5\xF0\xE2\xFB\xE9", &frame));  // CP1251 text
    view.PostRefresh(0);
    Pump();
    EXPECT_EQ(view.texts[IDC_CHANNEL_LABEL], "\xCF\xE5\xF0\xE2\xFB\xE9");
    EXPECT_EQ(Now().offsetX, 0);
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "0.0");
    EXPECT_EQ(view.spins[IDC_OFFSET_X_SPIN], 0);
    EXPECT_EQ(view.checks[IDC_PER_CHANNEL_CHECK], 1u);

    EXPECT_TRUE(store.BeginFrame(1, 0, "First", &frame));
    logic.OnRefresh(0);
    EXPECT_EQ(view.texts[IDC_OFFSET_X_EDIT], "0.1");
}

TEST(DialogPlacementTest, NeverPlacedIsCentredOnTheOwner) {
    const Rect dialog{0, 0, 300, 220}, owner{100, 100, 740, 580};
    DialogPlacement at = PlaceDialog(-100, -100, dialog, owner, 1024, 768);
    EXPECT_EQ(at.x, 270);  // 0 + 420 - 150
    EXPECT_EQ(at.y, 230);  // 0 + 340 - 110
}

TEST(DialogPlacementTest, StoredPositionsAreUsedUnchangedNegativeIncluded) {
    const Rect dialog{0, 0, 300, 220}, owner{100, 100, 740, 580};
    for (auto [x, y] : {std::pair{-100, 40}, {40, -100}, {-5000, -3}, {0, 0}, {1023, 767}}) {
        DialogPlacement at = PlaceDialog(x, y, dialog, owner, 1024, 768);
        EXPECT_EQ(at.x, x);
        EXPECT_EQ(at.y, y);
    }
}

TEST(DialogPlacementTest, OffTheRightOrBottomOfThePrimaryScreenIsCentred) {
    const Rect dialog{0, 0, 300, 220}, owner{100, 100, 740, 580};
    for (auto [x, y] : {std::pair{1024, 10}, {10, 768}, {2000, 2000}}) {
        DialogPlacement at = PlaceDialog(x, y, dialog, owner, 1024, 768);
        EXPECT_EQ(at.x, 270);
        EXPECT_EQ(at.y, 230);
    }
}

TEST(DialogPlacementTest, KeptInsideTheScreenNearItsEdges) {
    const Rect dialog{10, 10, 310, 230};
    // Owner near the right and bottom edges: the dialog ends exactly at the screen's edges.
    DialogPlacement at = PlaceDialog(-100, -100, dialog, Rect{900, 700, 1100, 800}, 1024, 768);
    EXPECT_EQ(at.x, 1024 - 300);
    EXPECT_EQ(at.y, 768 - 220);
    // Owner partly above and left of the screen: never a negative coordinate.
    at = PlaceDialog(-100, -100, dialog, Rect{-400, -300, 100, 50}, 1024, 768);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);
    // Halving truncates toward zero: (-3 + 0) / 2 is -1, not -2.
    at = PlaceDialog(-100, -100, Rect{0, 0, 2, 2}, Rect{-3, -3, 0, 0}, 1024, 768);
    EXPECT_EQ(at.x, 0);
    at = PlaceDialog(-100, -100, Rect{0, 0, 2, 2}, Rect{7, 8, 10, 13}, 1024, 768);
    EXPECT_EQ(at.x, 7);  // 0 + 17/2 - 1
    EXPECT_EQ(at.y, 9);  // 0 + 21/2 - 1
}

TEST_F(SettingsDialogTest, OpeningWithoutOwnerCentresOnTheScreen) {
    view.hasOwner = false;
    Open();
    EXPECT_EQ(view.window.left, (1024 - 300) / 2);
    EXPECT_EQ(view.window.top, (768 - 220) / 2);
}

// The frame thread copies the values under the store's lock while the dialog steps the scales
// under keep-proportions: no frame may ever see the two scales differ.
TEST_F(SettingsDialogTest, FramesNeverSeeHalfAKeepProportionsStep) {
    Open();
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, frameCount{0};
    std::thread frames([&] {
        ChannelProfile values;
        uint32_t n = 0;
        while (!stop.load()) {
            store.BeginFrame(++n % 3, 0, "x", &values);
            if (values.scaleX != values.scaleY) ++torn;
            ++frameCount;
        }
    });
    // Both sides keep running until each has done a fair share of work.
    for (int i = 0; i < 20000 || (frameCount.load() < 20000 && i < 400000); ++i) {
        Step(IDC_SCALE_X_SPIN, (i / 300) % 2 ? -1 : +1);
        Click(IDC_KEEP_ASPECT_CHECK);
        Click(IDC_KEEP_ASPECT_CHECK);
    }
    stop = true;
    frames.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace kvx
