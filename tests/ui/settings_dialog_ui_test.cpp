// The settings dialog inside a real host window under Wine, operated with real input.
#include <gtest/gtest.h>


#include "ui/dialog_ids.h"
#include "ui_harness.h"

namespace kvx::ui {
namespace {

const wchar_t kCaption[] = L"KVX_Scaler плагин";
// Channel names as the host hands them: 8-bit text in the system's code page (1251).
const std::string kFirstName = "\xCF\xE5\xF0\xE2\xFB\xE9 \xEA\xE0\xED\xE0\xEB";  // Первый канал
const wchar_t kFirstNameW[] = L"Первый канал";
const std::string kSecondName = "\xC2\xF2\xEE\xF0\xEE\xE9";  // Второй
const wchar_t kSecondNameW[] = L"Второй";

const int kProcessingControls[] = {IDC_OFFSET_X_SPIN, IDC_OFFSET_Y_SPIN, IDC_SCALE_X_SPIN,
                                   IDC_SCALE_Y_SPIN,  IDC_OFFSET_X_EDIT, IDC_OFFSET_Y_EDIT,
                                   IDC_SCALE_X_EDIT,  IDC_SCALE_Y_EDIT,  IDC_KEEP_ASPECT_CHECK,
                                   IDC_INTERLACE_CHECK, IDC_DEINTERLACE_CHECK};

// Arrow halves of the up-down controls: horizontal ones left / right, vertical ones up / down.
void StepRight(HWND dlg, int spin) { ClickControl(dlg, spin, 0.8, 0.5); }
void StepLeft(HWND dlg, int spin) { ClickControl(dlg, spin, 0.2, 0.5); }
void StepUp(HWND dlg, int spin) { ClickControl(dlg, spin, 0.5, 0.25); }

std::string OutPath(const char* name) {
    const char* dir = std::getenv("KVX_UI_OUT");
    return std::string(dir ? dir : ".") + "\\" + name;
}

class SettingsDialogUi : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileA(SettingsFilePath().c_str());
        std::string error;
        ASSERT_TRUE(session.Open(error)) << error;
        session.Frame(1, kFirstName);
    }
    HWND OpenDialog() {
        session.ShowSettings();
        std::vector<HWND> dialogs = FindDialogs(kCaption);
        return dialogs.size() == 1 ? dialogs[0] : nullptr;
    }
    bool Closed() { return FindDialogs(kCaption).empty(); }

    HostSession session;
};

TEST_F(SettingsDialogUi, RunsInTheRussianCodePage) { EXPECT_EQ(GetACP(), 1251u); }

TEST_F(SettingsDialogUi, OpensOwnedByTheHostCentredAndFilled) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(GetWindow(dlg, GW_OWNER), session.Host());
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    RECT d, o;
    GetWindowRect(dlg, &d);
    GetWindowRect(session.Host(), &o);
    EXPECT_LE(std::abs((d.left + d.right) / 2 - (o.left + o.right) / 2), 1);
    EXPECT_LE(std::abs((d.top + d.bottom) / 2 - (o.top + o.bottom) / 2), 1);

    EXPECT_EQ(Text(dlg, IDC_CHANNEL_LABEL), kFirstNameW);
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"0.0");
    EXPECT_EQ(Text(dlg, IDC_OFFSET_Y_EDIT), L"0.0");
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.0");
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.0");
    EXPECT_EQ(Text(dlg, IDC_OK_BUTTON), L"ОК");
    EXPECT_EQ(SpinPos(dlg, IDC_SCALE_X_SPIN), 1000);
    EXPECT_FALSE(Checked(dlg, IDC_ENABLE_CHECK));
    EXPECT_TRUE(Checked(dlg, IDC_KEEP_ASPECT_CHECK));
    EXPECT_TRUE(Checked(dlg, IDC_INTERLACE_CHECK));
    EXPECT_FALSE(Checked(dlg, IDC_PER_CHANNEL_CHECK));
    EXPECT_FALSE(Checked(dlg, IDC_AUTO_FIT_CHECK));
    EXPECT_EQ(Text(dlg, IDC_AUTO_FIT_CHECK), L"Автоматически убирать чёрные поля");
    for (int id : kProcessingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;
    EXPECT_TRUE(Enabled(dlg, IDC_ENABLE_CHECK));
    EXPECT_TRUE(Enabled(dlg, IDC_PER_CHANNEL_CHECK));
    EXPECT_TRUE(Enabled(dlg, IDC_AUTO_FIT_CHECK));
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, IDC_OK_BUTTON));
}

TEST_F(SettingsDialogUi, ClicksChangeWhatTheFramesAreProcessedWith) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    ClickControl(dlg, IDC_ENABLE_CHECK);
    ASSERT_TRUE(Checked(dlg, IDC_ENABLE_CHECK));
    for (int id : kProcessingControls) EXPECT_TRUE(Enabled(dlg, id)) << id;
    EXPECT_EQ(session.Frame(1, kFirstName).LeftBlack(), 0);

    for (int i = 0; i < 5; ++i) StepRight(dlg, IDC_OFFSET_X_SPIN);
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"0.5");
    TestFrame& shifted = session.Frame(1, kFirstName);
    EXPECT_EQ(shifted.LeftBlack(), 5);  // 0.5 % of 1000 columns
    EXPECT_EQ(shifted.RightBlack(), 0);

    for (int i = 0; i < 6; ++i) StepLeft(dlg, IDC_OFFSET_X_SPIN);
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"-0.1");  // a negative position stays negative
    EXPECT_EQ(SpinPos(dlg, IDC_OFFSET_X_SPIN), -1);
    EXPECT_EQ(session.Frame(1, kFirstName).RightBlack(), 1);

    // Keep proportions: one step of ScaleX moves ScaleY with it.
    StepRight(dlg, IDC_SCALE_X_SPIN);
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.1");
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.1");
    EXPECT_EQ(SpinPos(dlg, IDC_SCALE_Y_SPIN), 1001);
    // Without it the two move apart; ticking it again copies ScaleX into ScaleY.
    ClickControl(dlg, IDC_KEEP_ASPECT_CHECK);
    EXPECT_FALSE(Checked(dlg, IDC_KEEP_ASPECT_CHECK));
    StepUp(dlg, IDC_SCALE_Y_SPIN);
    StepUp(dlg, IDC_SCALE_Y_SPIN);
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.1");
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.3");
    ClickControl(dlg, IDC_KEEP_ASPECT_CHECK);
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.1");

    // Shrinking to 99.0 % leaves five black columns on each side.
    ClickControl(dlg, IDC_KEEP_ASPECT_CHECK);
    for (int i = 0; i < 11; ++i) StepLeft(dlg, IDC_SCALE_X_SPIN);
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"99.0");
    for (int i = 0; i < 1; ++i) StepRight(dlg, IDC_OFFSET_X_SPIN);
    TestFrame& smaller = session.Frame(1, kFirstName);
    EXPECT_EQ(smaller.LeftBlack(), 5);
    EXPECT_EQ(smaller.RightBlack(), 5);
    ASSERT_TRUE(SaveWindowShot(dlg, OutPath("settings_dialog.bmp")));

    // "Вкл." cleared: processing stops, the eleven controls grey, the rest stays usable.
    ClickControl(dlg, IDC_ENABLE_CHECK);
    for (int id : kProcessingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;
    EXPECT_EQ(session.Frame(1, kFirstName).LeftBlack(), 0);
}

TEST_F(SettingsDialogUi, KeyboardTabArrowsEnterEscapeAndAltF4) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    SetForegroundWindow(dlg);
    Pump(100);
    ASSERT_EQ(GetFocus(), GetDlgItem(dlg, IDC_OK_BUTTON));
    PressKey(VK_TAB);  // only works when the hook hands the key to IsDialogMessage
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, IDC_CANCEL_BUTTON));
    PressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, IDC_ABOUT_BUTTON));

    ClickControl(dlg, IDC_ENABLE_CHECK);
    SetFocus(GetDlgItem(dlg, IDC_SCALE_X_EDIT));
    PressKey(VK_RETURN);  // no default button: IDOK does nothing
    PressKey(VK_ESCAPE);  // IDCANCEL does nothing
    ASSERT_FALSE(Closed());
    PressKey(VK_UP);  // the buddy's arrow keys step its up-down control
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.1");
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.1");

    PressKey(VK_F4, true);  // closes like Cancel
    ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 1000));
    HWND again = OpenDialog();
    ASSERT_TRUE(again);
    EXPECT_EQ(Text(again, IDC_SCALE_X_EDIT), L"100.0");
    EXPECT_FALSE(Checked(again, IDC_ENABLE_CHECK));
}

TEST_F(SettingsDialogUi, SecondShowSettingsFlashesTheOpenDialog) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    const DWORD start = GetTickCount();
    session.ShowSettings();
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 450u);  // eight toggles, 60 ms apart
    std::vector<HWND> dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0], dlg);
}

TEST_F(SettingsDialogUi, CancelRestoresAndOkKeeps) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    ClickControl(dlg, IDC_ENABLE_CHECK);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    ClickControl(dlg, IDC_DEINTERLACE_CHECK);
    ClickControl(dlg, IDC_CANCEL_BUTTON);
    ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 1000));
    EXPECT_EQ(session.Frame(1, kFirstName).LeftBlack(), 0);  // processing off again

    dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    EXPECT_FALSE(Checked(dlg, IDC_ENABLE_CHECK));
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"0.0");
    ClickControl(dlg, IDC_ENABLE_CHECK);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    ClickControl(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 1000));
    EXPECT_EQ(session.Frame(1, kFirstName).LeftBlack(), 2);
}

TEST_F(SettingsDialogUi, DefaultsResetAndGrey) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    ClickControl(dlg, IDC_ENABLE_CHECK);
    StepRight(dlg, IDC_SCALE_X_SPIN);
    ClickControl(dlg, IDC_AUTO_FIT_CHECK);
    ASSERT_TRUE(Checked(dlg, IDC_AUTO_FIT_CHECK));
    ClickControl(dlg, IDC_DEFAULTS_BUTTON);
    EXPECT_FALSE(Checked(dlg, IDC_AUTO_FIT_CHECK));
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.0");
    EXPECT_EQ(Text(dlg, IDC_SCALE_Y_EDIT), L"100.0");
    EXPECT_FALSE(Checked(dlg, IDC_ENABLE_CHECK));
    for (int id : kProcessingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;
}

TEST_F(SettingsDialogUi, ChannelChangeWhileOpenAndWhileClosed) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    ClickControl(dlg, IDC_PER_CHANNEL_CHECK);
    ASSERT_TRUE(Checked(dlg, IDC_PER_CHANNEL_CHECK));
    ClickControl(dlg, IDC_ENABLE_CHECK);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    ClickControl(dlg, IDC_AUTO_FIT_CHECK);

    session.Frame(2, kSecondName);  // a channel met for the first time: DEFAULT values
    Pump(150);
    EXPECT_EQ(Text(dlg, IDC_CHANNEL_LABEL), kSecondNameW);
    EXPECT_FALSE(Checked(dlg, IDC_ENABLE_CHECK));
    EXPECT_FALSE(Checked(dlg, IDC_AUTO_FIT_CHECK));
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"0.0");
    for (int id : kProcessingControls) EXPECT_FALSE(Enabled(dlg, id)) << id;

    session.Frame(1, kFirstName);
    Pump(150);
    EXPECT_EQ(Text(dlg, IDC_CHANNEL_LABEL), kFirstNameW);
    EXPECT_TRUE(Checked(dlg, IDC_ENABLE_CHECK));
    EXPECT_TRUE(Checked(dlg, IDC_AUTO_FIT_CHECK));
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"0.1");
    EXPECT_EQ(SpinPos(dlg, IDC_OFFSET_X_SPIN), 1);
    ClickControl(dlg, IDC_OK_BUTTON);
    ASSERT_TRUE(PumpUntil([&] { return Closed(); }, 1000));

    // Closed: a channel change posts nothing (not even a thread message).
    Pump(50);
    session.Frame(2, kSecondName);
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_DIALOG_REFRESH, WM_DIALOG_REFRESH, PM_NOREMOVE));
    dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(Text(dlg, IDC_CHANNEL_LABEL), kSecondNameW);
}

// The refresh messages queued for `dialog`, by code; they are then handed to the dialog
// as its message loop would, and whatever it posts itself in answer is handled too.
std::vector<WPARAM> TakeRefreshes(HWND dialog) {
    std::vector<MSG> taken;
    MSG msg;
    while (PeekMessageW(&msg, dialog, WM_DIALOG_REFRESH, WM_DIALOG_REFRESH, PM_REMOVE)) taken.push_back(msg);
    std::vector<WPARAM> codes;
    for (const MSG& m : taken) {
        codes.push_back(m.wParam);
        DispatchMessageW(&m);
    }
    Pump(100);
    return codes;
}

TEST(DialogRefresh, TheFirstFrameAfterInitAndEachNewChannelPostOneRefresh) {
    DeleteFileA(SettingsFilePath().c_str());
    HostSession session;
    std::string error;
    ASSERT_TRUE(session.Open(error)) << error;  // Init and FormatChange, no frame yet
    session.ShowSettings();
    const std::vector<HWND> dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    const HWND dlg = dialogs[0];
    Pump(150);
    using Codes = std::vector<WPARAM>;
    session.Frame(1, kFirstName);  // no channel yet: a change
    EXPECT_EQ(TakeRefreshes(dlg), Codes{0});
    session.Frame(1, kFirstName);
    session.Frame(1, kFirstName);
    EXPECT_EQ(TakeRefreshes(dlg), Codes{});
    session.Frame(2, kSecondName);
    EXPECT_EQ(TakeRefreshes(dlg), Codes{0});
    session.Frame(2, kSecondName);
    EXPECT_EQ(TakeRefreshes(dlg), Codes{});
    EXPECT_EQ(Text(dlg, IDC_CHANNEL_LABEL), kSecondNameW);
}

TEST_F(SettingsDialogUi, DeinitSavesValuesAndPositionAndTheNextOpeningUsesIt) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    ClickControl(dlg, IDC_ENABLE_CHECK);
    StepRight(dlg, IDC_OFFSET_X_SPIN);
    ClickControl(dlg, IDC_AUTO_FIT_CHECK);
    SetWindowPos(dlg, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Pump(50);
    session.Deinit();
    EXPECT_TRUE(Closed());
    const std::string ini = ReadFile(SettingsFilePath());
    EXPECT_NE(ini.find("[DIALOG]\r\nDlgWndPosX=123\r\nDlgWndPosY=77\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("OffsetX=1\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ProcEnable=1\r\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Deinterlace=0\r\nAutoFit=1\r\n"), std::string::npos) << ini;
    session.Unload();

    HostSession next;
    std::string error;
    ASSERT_TRUE(next.Open(error)) << error;
    next.ShowSettings();
    std::vector<HWND> dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    RECT r;
    GetWindowRect(dialogs[0], &r);
    EXPECT_EQ(r.left, 123);
    EXPECT_EQ(r.top, 77);
    EXPECT_EQ(Text(dialogs[0], IDC_OFFSET_X_EDIT), L"0.1");
    EXPECT_TRUE(Checked(dialogs[0], IDC_AUTO_FIT_CHECK));
}

TEST_F(SettingsDialogUi, AboutBoxIsModalAndOwnedByTheDialog) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    HWND about = nullptr;
    bool settingsDisabled = false, settingsSurvived = false, shot = false;
    // The About box's modal loop runs inside the click; a second thread looks at it.
    Thread observer([&] {
        for (int i = 0; i < 300 && !about; ++i, Sleep(10)) about = FindDialogOwnedBy(dlg);
        if (!about) return;
        Sleep(300);
        settingsDisabled = !IsWindowEnabled(dlg);
        shot = SaveWindowShot(about, OutPath("about_box.bmp"));
        RECT r;  // a click on the settings dialog's Cancel button must do nothing
        GetWindowRect(GetDlgItem(dlg, IDC_CANCEL_BUTTON), &r);
        ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        Sleep(300);
        settingsSurvived = IsWindow(dlg) != FALSE;
        GetWindowRect(GetDlgItem(about, IDOK), &r);
        ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    });
    ClickControl(dlg, IDC_ABOUT_BUTTON);
    PumpUntil([&] { return about && !IsWindow(about); }, 5000);
    observer.join();
    ASSERT_TRUE(about);
    EXPECT_FALSE(GetWindowLongW(about, GWL_STYLE) & WS_SYSMENU);
    EXPECT_TRUE(settingsDisabled);
    EXPECT_TRUE(settingsSurvived);
    EXPECT_TRUE(shot);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_TRUE(IsWindow(dlg));
    EXPECT_TRUE(IsWindowEnabled(dlg));
}

TEST_F(SettingsDialogUi, AboutBoxClosesWithEnterAndEscape) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    for (WORD key : {WORD{VK_RETURN}, WORD{VK_ESCAPE}}) {
        HWND about = nullptr;
        Thread observer([&] {
            for (int i = 0; i < 300 && !about; ++i, Sleep(10)) about = FindDialogOwnedBy(dlg);
            Sleep(200);
            INPUT in[2] = {};
            in[0].type = in[1].type = INPUT_KEYBOARD;
            in[0].ki.wVk = in[1].ki.wVk = key;
            in[1].ki.dwFlags = KEYEVENTF_KEYUP;
            SendInput(2, in, sizeof in[0]);
        });
        ClickControl(dlg, IDC_ABOUT_BUTTON);
        PumpUntil([&] { return about && !IsWindow(about); }, 5000);
        observer.join();
        ASSERT_TRUE(about) << key;
        EXPECT_FALSE(IsWindow(about)) << key;
        EXPECT_TRUE(IsWindow(dlg)) << key;
    }
}

TEST_F(SettingsDialogUi, DeinitWhileTheAboutBoxIsOpenEndsItFirst) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    session.onTimer = [&] { session.Deinit(); };
    SetTimer(session.Host(), 1, 400, nullptr);  // dispatched by the About box's modal loop
    ClickControl(dlg, IDC_ABOUT_BUTTON);
    ASSERT_TRUE(PumpUntil([&] { return Closed() && !FindDialogOwnedBy(nullptr); }, 3000));
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_NE(ReadFile(SettingsFilePath()).find("[DIALOG]"), std::string::npos);
    session.Unload();
    Pump(100);
}

TEST_F(SettingsDialogUi, NullOrDestroyedHostWindowOpensWithoutOwner) {
    session.ShowSettingsWith(nullptr);
    std::vector<HWND> dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(GetWindow(dialogs[0], GW_OWNER), nullptr);
    SendMessageW(dialogs[0], WM_CLOSE, 0, 0);
    Pump(50);
    ASSERT_TRUE(Closed());

    HWND gone = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    DestroyWindow(gone);
    session.ShowSettingsWith(&gone);
    dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(GetWindow(dialogs[0], GW_OWNER), nullptr);
    EXPECT_EQ(Text(dialogs[0], IDC_CHANNEL_LABEL), kFirstNameW);
}

TEST_F(SettingsDialogUi, RefreshAnswersOneAndIgnoresUnknownCodes) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    EXPECT_EQ(SendMessageW(dlg, WM_DIALOG_REFRESH, 9, 0), 1);
    EXPECT_EQ(SendMessageW(dlg, WM_DIALOG_REFRESH, 0, 0), 1);
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"100.0");
}

TEST_F(SettingsDialogUi, UnloadingWithTheDialogOpenLeavesNoWindowBehind) {
    HWND dlg = OpenDialog();
    ASSERT_TRUE(dlg);
    session.UnloadWithoutDeinit();
    Pump(100);  // any message to a window of the unloaded code would crash here
    EXPECT_FALSE(IsWindow(dlg));
    PressKey(VK_TAB);  // and no hook of the unloaded code is left on the thread
    Pump(100);
}

TEST_F(SettingsDialogUi, HandEditedValuesOutsideTheRangesShowUnchanged) {
    session.Unload();
    std::string ini = "[COMMON]\r\nProcEnable=1\r\nScaleX=2000\r\nOffsetX=-900\r\nKeepAspect=0\r\n";
    CreateDirectoryA((ExeFolder() + "Plugins").c_str(), nullptr);
    FILE* f = std::fopen(SettingsFilePath().c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(ini.data(), 1, ini.size(), f);
    std::fclose(f);

    HostSession edited;
    std::string error;
    ASSERT_TRUE(edited.Open(error)) << error;
    edited.Frame(1, kFirstName);
    edited.ShowSettings();
    std::vector<HWND> dialogs = FindDialogs(kCaption);
    ASSERT_EQ(dialogs.size(), 1u);
    HWND dlg = dialogs[0];
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), L"200.0");
    EXPECT_EQ(Text(dlg, IDC_OFFSET_X_EDIT), L"-90.0");
    // The next step stores what the control itself reports.
    StepLeft(dlg, IDC_SCALE_X_SPIN);
    wchar_t expected[32];
    swprintf(expected, 32, L"%0.1f", SpinPos(dlg, IDC_SCALE_X_SPIN) * 0.1);
    EXPECT_EQ(Text(dlg, IDC_SCALE_X_EDIT), expected);
    edited.Frame(1, kFirstName);
}

}  // namespace
}  // namespace kvx::ui
