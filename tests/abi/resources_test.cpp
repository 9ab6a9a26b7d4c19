// The dialog templates and the bitmap as the built DLL carries them, read back as data and
// compared field by field with what the dialogs must be: an edit of the resource script
// that changes a dialog fails here, not only in a screenshot.
#if defined(_WIN32)
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "ui/dialog_ids.h"

namespace kvx {
namespace {

constexpr WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);  // 1049

// A class or title field of a template: a string, or an ordinal (0 when neither).
struct NameOrOrdinal {
    std::wstring text;
    WORD ordinal = 0;
};

struct Control {
    int32_t id;
    std::wstring className;  // predefined classes by name ("Button", "Edit", "Static"), any case
    NameOrOrdinal title;
    DWORD style, exStyle;
    short x, y, cx, cy;
};

struct Dialog {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    std::vector<Control> controls;
};

// Reads DLGTEMPLATEEX and its DLGITEMTEMPLATEEX records.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : p_(data), begin_(data), end_(data + size) {}

    bool Read(Dialog* d) {
        if (Word() != 1 || Word() != 0xFFFF) return false;  // the extended template
        Dword();                                            // help id
        d->exStyle = Dword();
        d->style = Dword();
        const WORD count = Word();
        d->x = Short(), d->y = Short(), d->cx = Short(), d->cy = Short();
        if (!NameOrOrd().text.empty()) return false;  // no menu
        if (!NameOrOrd().text.empty()) return false;  // the standard dialog class
        d->caption = String();
        if (d->style & DS_SETFONT) {
            d->pointSize = Word();
            Word();  // weight
            Word();  // italic, character set
            d->font = String();
        }
        for (WORD i = 0; i < count && ok_; ++i) {
            Align();
            Control c{};
            Dword();  // help id
            c.exStyle = Dword();
            c.style = Dword();
            c.x = Short(), c.y = Short(), c.cx = Short(), c.cy = Short();
            c.id = static_cast<int32_t>(Dword());
            NameOrOrdinal cls = NameOrOrd();
            c.className = cls.ordinal == 0x80   ? L"Button"
                          : cls.ordinal == 0x81 ? L"Edit"
                          : cls.ordinal == 0x82 ? L"Static"
                                                : cls.text;
            c.title = NameOrOrd();
            p_ += Word();  // creation data
            d->controls.push_back(c);
        }
        return ok_ && p_ <= end_;
    }

private:
    WORD Word() {
        if (p_ + 2 > end_) {
            ok_ = false;
            return 0;
        }
        WORD w;
        std::memcpy(&w, p_, 2);
        p_ += 2;
        return w;
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword() {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    std::wstring String() {
        std::wstring s;
        for (WORD c = Word(); c != 0 && ok_; c = Word()) s.push_back(static_cast<wchar_t>(c));
        return s;
    }
    NameOrOrdinal NameOrOrd() {
        NameOrOrdinal n;
        const uint8_t* start = p_;
        WORD first = Word();
        if (first == 0xFFFF) {
            n.ordinal = Word();
        } else if (first != 0) {
            p_ = start;
            n.text = String();
        }
        return n;
    }
    void Align() { p_ = begin_ + ((p_ - begin_ + 3) & ~3); }

    const uint8_t* p_;
    const uint8_t* begin_;
    const uint8_t* end_;
    bool ok_ = true;
};

class DllResources : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        module = LoadLibraryExA(PluginPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    // The bytes of resource `id` of `type` in Russian, the only language the DLL carries.
    bool Resource(LPCSTR type, WORD id, std::vector<uint8_t>* bytes) {
        HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kRussian);
        if (!found) return false;
        HGLOBAL loaded = LoadResource(module, found);
        const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
        if (!data) return false;
        bytes->assign(data, data + SizeofResource(module, found));
        return true;
    }
    bool ReadDialog(WORD id, Dialog* dialog) {
        std::vector<uint8_t> bytes;
        return Resource(MAKEINTRESOURCEA(5), id, &bytes) &&  // RT_DIALOG
               TemplateReader(bytes.data(), bytes.size()).Read(dialog);
    }
    // Both templates are tool windows in "MS Sans Serif" 8; style, size and caption differ.
    static void ExpectFrame(const Dialog& d, DWORD style, short cx, short cy, const wchar_t* caption) {
        EXPECT_EQ(d.style, style);
        EXPECT_EQ(d.exStyle, static_cast<DWORD>(WS_EX_TOOLWINDOW));
        EXPECT_EQ(d.cx, cx);
        EXPECT_EQ(d.cy, cy);
        EXPECT_EQ(d.caption, caption);
        EXPECT_EQ(d.font, L"MS Sans Serif");
        EXPECT_EQ(d.pointSize, 8);
    }

    void ExpectControls(const Dialog& dialog, const std::vector<Control>& expected) {
        ASSERT_EQ(dialog.controls.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const Control& a = dialog.controls[i];
            const Control& e = expected[i];
            SCOPED_TRACE(testing::Message() << "control " << i << ", id " << e.id);
            EXPECT_EQ(a.id, e.id);
            EXPECT_EQ(_wcsicmp(a.className.c_str(), e.className.c_str()), 0)  // names ignore case
                << std::string(a.className.begin(), a.className.end());
            if (e.title.ordinal != 0xFFFF) {  // 0xFFFF: the text is the implementer's choice
                EXPECT_EQ(a.title.text, e.title.text);
                EXPECT_EQ(a.title.ordinal, e.title.ordinal);
            }
            EXPECT_EQ(a.style, e.style | WS_CHILD | WS_VISIBLE) << std::hex << a.style;
            EXPECT_EQ(a.exStyle, e.exStyle);
            EXPECT_EQ(a.x, e.x);
            EXPECT_EQ(a.y, e.y);
            EXPECT_EQ(a.cx, e.cx);
            EXPECT_EQ(a.cy, e.cy);
        }
    }

    HMODULE module = nullptr;
};

NameOrOrdinal Text(const wchar_t* text) { return NameOrOrdinal{text, 0}; }

TEST_F(DllResources, SettingsDialogTemplate) {
    Dialog d;
    ASSERT_TRUE(ReadDialog(IDD_SETTINGS, &d));
    ExpectFrame(d, WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 198, 142, L"KVX_Scaler плагин");
    const DWORD push = BS_PUSHBUTTON | WS_TABSTOP, group = BS_GROUPBOX;
    const DWORD label = SS_CENTER | WS_GROUP, check = BS_AUTOCHECKBOX | WS_TABSTOP;
    const DWORD edit = ES_AUTOHSCROLL | ES_READONLY | WS_BORDER;
    const DWORD across = UDS_HORZ | UDS_ARROWKEYS | UDS_ALIGNRIGHT, upDown = UDS_ARROWKEYS | UDS_ALIGNRIGHT;
    const wchar_t* spin = L"msctls_updown32";
    ExpectControls(d, {
        {5002, L"Button", Text(L"ОК"), push, 0, 136, 6, 56, 13},
        {5003, L"Button", Text(L"Отмена"), push, 0, 136, 30, 56, 13},
        {5008, L"Button", Text(L"О плагине"), push, 0, 136, 78, 56, 13},
        {-1, L"Button", Text(L"Масштабирование"), group, 0, 3, 54, 125, 41},
        {5006, L"Button", Text(L"По умолчанию"), push, 0, 136, 54, 56, 13},
        {-1, L"Button", Text(L"Смещение"), group, 0, 3, 28, 125, 25},
        {-1, L"Static", Text(L"X:"), label, 0, 11, 39, 8, 8},
        {-1, L"Static", Text(L"Y:"), label, 0, 68, 39, 8, 8},
        {-1, L"Static", Text(L"X:"), label, 0, 12, 68, 8, 8},
        {-1, L"Static", Text(L"Y:"), label, 0, 69, 68, 8, 8},
        {5066, L"Button", Text(L"Сохранять пропорции"), check, 0, 11, 82, 89, 10},
        {-1, L"Button", Text(L"Канал"), group, 0, 3, 1, 125, 27},
        {5068, L"Static", Text(L"Static"), label | SS_CENTERIMAGE, WS_EX_STATICEDGE, 9, 12, 71, 11},
        {5055, L"Edit", Text(L""), edit, 0, 25, 37, 33, 12},
        {5060, spin, Text(L""), across, 0, 49, 36, 11, 14},
        {5056, L"Edit", Text(L""), edit, 0, 82, 37, 33, 12},
        {5061, spin, Text(L""), upDown, 0, 106, 36, 11, 14},
        {5057, L"Edit", Text(L""), edit | WS_TABSTOP, 0, 25, 65, 33, 12},
        {5062, spin, Text(L""), across, 0, 49, 64, 11, 14},
        {5058, L"Edit", Text(L""), edit | WS_TABSTOP, 0, 82, 65, 33, 12},
        {5063, spin, Text(L""), upDown, 0, 106, 64, 11, 14},
        {5073, L"Button", Text(L"Масштабирование по полям"), check, 0, 11, 109, 112, 10},
        {5070, L"Button", Text(L"Настройка по каналам"), check | BS_LEFT, 0, 11, 120, 94, 10},
        {5069, L"Button", Text(L"Вкл."), check, 0, 89, 14, 31, 10},
        {5074, L"Button", Text(L"Предварительный деинтерлейс"), check, 0, 11, 98, 123, 10},
        {5075, L"Button", Text(L"Автоматически убирать чёрные поля"), check, 0, 11, 131, 150, 10},
    });
}

TEST_F(DllResources, AboutBoxTemplate) {
    Dialog d;
    ASSERT_TRUE(ReadDialog(IDD_ABOUT, &d));
    ExpectFrame(d, WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, 150, 106, L"");
    const DWORD centred = SS_CENTER | SS_CENTERIMAGE;
    ExpectControls(d, {
        {IDOK, L"Button", Text(L"OK"), BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 54, 87, 44, 13},
        {-1, L"Static", NameOrOrdinal{L"", 0xFFFF}, centred, 0, 7, 70, 136, 10},  // the credit line
        {-1, L"Static", Text(L"Ver.1.02"), centred, 0, 7, 54, 136, 10},
        {-1, L"Static", Text(L"KVX_Scaler плагин"), centred, 0, 7, 41, 136, 8},
        {-1, L"Button", Text(L""), BS_GROUPBOX, 0, 3, -2, 144, 106},
        {-1, L"Static", NameOrOrdinal{L"", IDB_ABOUT_PICTURE}, SS_BITMAP, 0, 63, 12, 21, 20},
    });
}

TEST_F(DllResources, AboutPictureIs32By32At24BitsBottomUp) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(Resource(MAKEINTRESOURCEA(2), IDB_ABOUT_PICTURE, &bytes));  // RT_BITMAP
    BITMAPINFOHEADER header;
    ASSERT_GE(bytes.size(), sizeof header);
    std::memcpy(&header, bytes.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 32);  // positive: bottom row first
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_GE(bytes.size(), header.biSize + 32u * 32u * 3u);
}

}  // namespace
}  // namespace kvx
#endif
