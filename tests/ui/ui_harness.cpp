#include "ui_harness.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kvx::ui {

std::string ExeFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

std::string SettingsFilePath() { return ExeFolder() + "Plugins\\KVX_Scaler.ini"; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (static_cast<int32_t>(GetTickCount() - end) >= 0) return false;
        Sleep(10);
    }
}

namespace {

struct Search {
    const wchar_t* caption;
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    Search& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {}, text[128] = {};
    GetClassNameW(hwnd, cls, 64);
    GetWindowTextW(hwnd, text, 128);
    if (pid != GetCurrentProcessId() || wcscmp(cls, L"#32770") != 0) return TRUE;
    if (s.caption && wcscmp(text, s.caption) != 0) return TRUE;
    if (s.owner && GetWindow(hwnd, GW_OWNER) != s.owner) return TRUE;
    s.found.push_back(hwnd);
    return TRUE;
}

void SendMouse(DWORD flags) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
}

void SendKey(WORD vk, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, 0));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

}  // namespace

std::vector<HWND> FindDialogs(const wchar_t* caption) {
    Search s{caption, nullptr, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND FindDialogOwnedBy(HWND owner) {
    Search s{nullptr, owner, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

void ClickAt(POINT p) {
    SetCursorPos(p.x, p.y);
    Sleep(20);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    Sleep(30);
    SendMouse(MOUSEEVENTF_LEFTUP);
}

void ClickControl(HWND dialog, int id, double fx, double fy) {
    RECT r = {};
    GetWindowRect(GetDlgItem(dialog, id), &r);
    POINT p = {r.left + static_cast<LONG>((r.right - r.left) * fx),
               r.top + static_cast<LONG>((r.bottom - r.top) * fy)};
    ClickAt(p);
    Pump(120);
}

void PressKey(WORD vk, bool alt) {
    if (alt) SendKey(VK_MENU, false);
    SendKey(vk, false);
    SendKey(vk, true);
    if (alt) SendKey(VK_MENU, true);
    Pump(120);
}

std::wstring Text(HWND dialog, int id) {
    wchar_t text[256] = {};
    GetDlgItemTextW(dialog, id, text, 256);
    return text;
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
int SpinPos(HWND dialog, int id) {
    return static_cast<short>(LOWORD(SendDlgItemMessageW(dialog, id, WM_USER + 104, 0, 0)));
}

Thread::Thread(std::function<void()> body) : body_(std::move(body)) {
    handle_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

DWORD WINAPI Thread::Run(LPVOID self) {
    static_cast<Thread*>(self)->body_();
    return 0;
}

void Thread::join() {
    if (!handle_) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
}

bool SaveWindowShot(HWND window, const std::string& path) {
    RECT r = {};
    if (!GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * h;
    bool ok = false;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
             std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, stride * h, 1, f) == 1;
        std::fclose(f);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

TestFrame::TestFrame(int w, int h)
    : width(w), height(h), pixels_(static_cast<size_t>(w) * h * 3) {
    info_.pixels = pixels_.data();
}

void TestFrame::Fill(uint8_t value) { std::fill(pixels_.begin(), pixels_.end(), value); }

void TestFrame::SetChannel(uint32_t keyLow, const std::string& name) {
    channel_.Set(keyLow, 0, name);
    info_.channel = channel_.info();
}

bool TestFrame::Black(int x, int y) const {
    const uint8_t* p = &pixels_[(static_cast<size_t>(y) * width + x) * 3];
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

int TestFrame::LeftBlack() const {
    int n = 0;
    while (n < width && Black(n, height / 2)) ++n;
    return n;
}

int TestFrame::RightBlack() const {
    int n = 0;
    while (n < width && Black(width - 1 - n, height / 2)) ++n;
    return n;
}

namespace {
HostSession* g_session = nullptr;
int32_t KVX_CDECL KnowsEveryChannel(uint32_t, uint32_t) { return 1; }
}  // namespace

LRESULT CALLBACK HostSession::HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && g_session) {
        KillTimer(hwnd, wParam);
        if (g_session->onTimer) g_session->onTimer();
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HostSession::HostSession() {
    g_session = this;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = L"KvxUiTestHost";
    RegisterClassW(&wc);  // fails harmlessly when already registered
    host_ = CreateWindowExW(0, L"KvxUiTestHost", L"Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                            100, 80, 640, 480, nullptr, nullptr, wc.hInstance, nullptr);
    Pump(50);
}

HostSession::~HostSession() {
    Unload();
    if (host_) DestroyWindow(host_);
    Pump(50);
    g_session = nullptr;
}

bool HostSession::Open(std::string& error) {
    if (!host_) {
        error = "no host window";
        return false;
    }
    std::string path = ExeFolder() + "KVX_Scaler.dll";
    if (!library_.Open(path, error)) return false;
    d_ = library_.Descriptor();
    InitInfo init = {0, KnowsEveryChannel};
    d_->Init(&init);
    initialised_ = true;
    VideoFormat format = {frame_.width, frame_.height, 3, 1, 0};
    d_->FormatChange(&format);
    return true;
}

TestFrame& HostSession::Frame(uint32_t channel, const std::string& name) {
    frame_.Fill(200);
    frame_.SetChannel(channel, name);
    d_->ProcessFrame(frame_.Info());
    return frame_;
}

void HostSession::ShowSettings() { ShowSettingsWith(&host_); }

void HostSession::ShowSettingsWith(HWND* window) {
    d_->ShowSettings(reinterpret_cast<HostWindow*>(window));
    Pump(150);
}

void HostSession::Deinit() {
    if (!initialised_) return;
    initialised_ = false;
    d_->Free();
    d_->Deinit();
    Pump(50);
}

void HostSession::UnloadWithoutDeinit() {
    initialised_ = false;
    Unload();
}

void HostSession::Unload() {
    Deinit();
    library_.Close();
    d_ = nullptr;
}

}  // namespace kvx::ui
