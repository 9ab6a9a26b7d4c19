// What kvx-host tells of a settings file's text before the plug-in reads it: whether it is
// one at all, and what a hand-edited one makes the plug-in read otherwise than it looks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/settings_file_text.h"

namespace kvx {
namespace {

// Bytes with NULs kept.
template <size_t N>
std::string B(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// A transport stream's packets (sync byte 0x47 every `packet` bytes from `start`).
std::string Packets(size_t start, size_t packet) {
    std::string bytes(start + 3 * packet, 'x');
    for (size_t i = start; i < bytes.size(); i += packet) bytes[i] = 0x47;
    return bytes;
}

struct Kind {
    std::string bytes;
    const char* says;  // "" for a settings file
};

TEST(SettingsFileText, ASettingsFileIsTextWithItsOwnKindOfLine) {
    const Kind kinds[] = {
        {"", ""},
        {"\r\n \t\r\n", ""},
        {"\xEF\xBB\xBF", ""},
        {"[COMMON]", ""},
        {"ScaleX=1100\r\n", ""},
        {"; kept for the kitchen TV\r\n[DIALOG]\r\n", ""},
        {"\xEF\xBB\xBF[SETTINGS]\r\nCommon=1\r\n", ""},
        {"GOOD=1\r\n" + std::string(400, 'o'), ""},  // a 'G' alone is no sync byte
        {B("MZ\x90\0\x03\0\0\0"), "a Windows program or library"},
        {B("\x7f" "ELF\x01\x01\x01\0"), "a Linux program or library"},
        {B("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"), "a PNG picture"},
        {"\xff\xd8\xff\xe0", "a JPEG picture"},
        {B("RIFF\x24\0\0\0AVI LIST"), "a RIFF file"},
        {B("\0\0\0\x18" "ftypmp42"), "an MP4 or QuickTime video"},
        {"\x1a\x45\xdf\xa3\x9f", "a Matroska or WebM video"},
        {"PK\x03\x04\x14", "a ZIP archive"},
        {"%PDF-1.4\n%\xe2\xe3\n1 0 obj\n<</Type=/Catalog>>\n", "a PDF document"},
        {Packets(0, 188), "an MPEG transport stream"},
        {Packets(4, 192), "an MPEG transport stream"},
        {B("\xff\xfe[\0C\0O\0M\0M\0O\0N\0]\0"), "UTF-16"},
        {B("[COMMON]\r\nScale\0X=1\r\n"), "NUL bytes"},
        {"Dear diary,\ntoday the remote broke.\n", "none of its first lines"},
        {std::string(5000, 'a') + "\n[COMMON]\r\n", "none of its first lines"},
    };
    for (const Kind& k : kinds) {
        const std::string said = WhyNotSettingsText(k.bytes);
        if (*k.says == '\0') EXPECT_EQ(said, "") << k.bytes.substr(0, 16);
        else EXPECT_NE(said.find(k.says), std::string::npos) << k.bytes.substr(0, 16) << ": " << said;
    }
}

struct Read {
    const char* text;
    std::vector<ChannelKey> loaded;  // the channel records the plug-in made of it
    std::vector<std::string> warnings;  // a part of each warning, in order
};

TEST(SettingsFileText, WarningsSayWhatThePlugInReadsOtherwiseThanItLooks) {
    const Read reads[] = {
        {"[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-5000\r\n[SETTINGS]\r\nCommon=0\r\n[COMMON]\r\nProcEnable=1\r\n"
         "OffsetX=-500\r\nScaleX= 1300 \r\n; a comment\r\n[DEFAULT]\r\nScaleY=700\r\n[+779]\r\nOffsetX=270\r\n",
         {779}, {}},
        {"[common]\r\nScaleX=1\r\n", {}, {"[common] is not a section the plug-in reads: names are case-sensitive (COMMON)"}},
        {"[Kitchen]\r\nScaleX=1\r\n", {}, {"[Kitchen] is not a section the plug-in reads (it reads DIALOG, SETTINGS"}},
        {"[0]\r\n", {}, {"[0] is not a section"}},
        {"[COMMON]\r\nscalex=1100\r\n", {}, {"scalex= is not a key the plug-in reads in [COMMON]: keys are case-sensitive (ScaleX)"}},
        {"[SETTINGS]\r\ncommon=0\r\n", {}, {"keys are case-sensitive (Common)"}},
        {"[COMMON]\r\nZoom=1\r\n", {}, {"Zoom= is not a key the plug-in reads in [COMMON] (it reads ProcEnable, OffsetX"}},
        {"[COMMON]\r\nScaleX=11O0\r\n", {},
         {"ScaleX=11O0 in [COMMON] is read as 11 (1.1 %), outside the settings dialog's range 70.0 % to 130.0 %"}},
        {"[7]\r\nScaleX=5000\r\n", {7}, {"ScaleX=5000 in [7] (500.0 %) is outside the settings dialog's range"}},
        {"[DEFAULT]\r\nOffsetY=abc\r\n", {}, {"OffsetY=abc in [DEFAULT] is read as 0 (0.0 %)"}},
        {"[COMMON]\r\nKeepAspect=-1\r\n", {}, {"KeepAspect=-1 in [COMMON] is outside the settings dialog's range 0 to 1"}},
        {"[SETTINGS]\r\nCommon=yes\r\n", {}, {"Common=yes in [SETTINGS] is read as 0"}},
        {"[COMMON]\r\nScaleX=\r\nScaleX=900\r\n", {},
         {"ScaleX= in [COMMON] has no value: the plug-in uses the default",
          "ScaleX=900 in [COMMON] comes after another ScaleX line"}},
        {"ScaleX=900\r\n[COMMON]\r\n", {}, {"ScaleX=900 stands before any section"}},
        {"[COMMON]\r\nScaleX=900", {}, {"the last line, ScaleX=900, has no line end"}},
        {"[COMMON\r\nScaleX=900\r\n", {}, {"[COMMON has no closing ]"}},
        {"[42]\r\nScaleX=900\r\n[COMMON]\r\n[42]\r\nScaleX=800\r\n", {42}, {"[42] is not read"}},
        {"[COMMON]\r\n[ 12 ]\r\nScaleX=900\r\n", {12}, {"[ 12 ] has blanks inside its brackets"}},
        {"[COMMON]\r\nScale\x1b[2JX=1\r\n", {}, {"Scale?[2JX= is not a key"}},  // no terminal control
    };
    for (const Read& r : reads) {
        const std::vector<std::string> said = SettingsTextWarnings(r.text, r.loaded);
        ASSERT_EQ(said.size(), r.warnings.size()) << r.text << (said.empty() ? "" : ": " + said[0]);
        for (size_t i = 0; i < said.size(); ++i)
            EXPECT_NE(said[i].find(r.warnings[i]), std::string::npos) << said[i];
    }
}

TEST(SettingsFileText, EverySettingOfTheListIsAKnownKeyAndWarningsStayShort) {
    for (const SettingInfo& s : kSettingList) {
        const std::string text = "[COMMON]\r\n" + std::string(s.key) + "=" + std::to_string(s.builtIn) + "\r\n";
        EXPECT_EQ(SettingsTextWarnings(text, {}), std::vector<std::string>()) << s.key;
    }
    std::string many = "[COMMON]\r\n";
    for (int i = 0; i < 30; ++i) many += "Unknown" + std::to_string(i) + "=1\r\n";
    const std::vector<std::string> said = SettingsTextWarnings(many, {});
    ASSERT_EQ(said.size(), kMaxSettingsWarnings + 1);
    EXPECT_EQ(said.back(), "and 10 more");
    const std::vector<std::string> cut = SettingsTextWarnings("[COMMON]\r\n" + std::string(1000, 'K') + "=1\r\n", {});
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0], std::string(297, 'K') + "...");
}

}  // namespace
}  // namespace kvx
