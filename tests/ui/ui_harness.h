// A test host for the settings dialog under Wine: a real top-level window, the real plug-in
// loaded through its exports, frames, and real mouse and keyboard input.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/channel_record.h"
#include "plugin/plugin_loader.h"

namespace kvx::ui {

// The folder of the test executable, with a trailing backslash.
std::string ExeFolder();
std::string SettingsFilePath();  // <exe folder>Plugins\KVX_Scaler.ini
std::string ReadFile(const std::string& path);

// Runs this thread's message loop (with the hooks of a real host loop) for `ms` milliseconds.
void Pump(int ms = 150);
// Pumps until `done` holds or `ms` milliseconds pass; returns whether it holds.
bool PumpUntil(const std::function<bool()>& done, int ms = 3000);

// Top-level dialog windows of this process with the given caption.
std::vector<HWND> FindDialogs(const wchar_t* caption);
HWND FindDialogOwnedBy(HWND owner);

// Real input through SendInput.
void ClickAt(POINT screen);
// Clicks control `id` of `dialog` at the fraction (fx, fy) of its rectangle.
void ClickControl(HWND dialog, int id, double fx = 0.5, double fy = 0.5);
void PressKey(WORD vk, bool alt = false);

std::wstring Text(HWND dialog, int id);
bool Checked(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
int SpinPos(HWND dialog, int id);

// A second thread (MinGW's win32 thread model has no std::thread).
class Thread {
public:
    explicit Thread(std::function<void()> body);
    ~Thread() { join(); }
    void join();

private:
    static DWORD WINAPI Run(LPVOID self);
    std::function<void()> body_;
    HANDLE handle_ = nullptr;
};

// Saves the screen's pixels under `window` as a 24-bit BMP.
bool SaveWindowShot(HWND window, const std::string& path);

// A BGR24 frame (bottom row first) filled with one grey, and a channel record.
class TestFrame {
public:
    TestFrame(int width, int height);
    void Fill(uint8_t value);
    void SetChannel(uint32_t keyLow, const std::string& cp1251Name);
    FrameInfo* Info() { return &info_; }
    // Black columns at the left / right end of the middle row.
    int LeftBlack() const;
    int RightBlack() const;
    int width, height;

private:
    bool Black(int x, int y) const;
    std::vector<uint8_t> pixels_;
    ChannelRecord channel_;
    FrameInfo info_{};
};

// One plug-in session: host window, library, Init, FormatChange and a first frame.
class HostSession {
public:
    HostSession();
    ~HostSession();
    bool Open(std::string& error);
    // Runs one frame through ProcessFrame (after restoring its grey) and returns it.
    TestFrame& Frame(uint32_t channel, const std::string& cp1251Name);
    void ShowSettings();
    void ShowSettingsWith(HWND* window);
    void Deinit();
    void Unload();
    void UnloadWithoutDeinit();  // the host skips Deinit
    HWND Host() const { return host_; }
    PluginDescriptor* D() const { return d_; }
    // Called from the host window's WM_TIMER (runs inside whatever loop is dispatching).
    std::function<void()> onTimer;

private:
    static LRESULT CALLBACK HostProc(HWND, UINT, WPARAM, LPARAM);
    HWND host_ = nullptr;
    PluginLibrary library_;
    PluginDescriptor* d_ = nullptr;
    bool initialised_ = false;
    TestFrame frame_{1000, 16};
};

}  // namespace kvx::ui
