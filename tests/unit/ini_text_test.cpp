#include "settings/ini_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <random>
#include <string>

namespace kvx {
namespace {

void SetText(IniText& ini, const std::string& text) {
    ASSERT_TRUE(ini.SetImage(std::vector<char>(text.begin(), text.end())));
}

int32_t IntOf(const std::string& text, const char* section, const char* key, int32_t def = -7) {
    IniText ini;
    SetText(ini, text);
    int32_t value = 0;
    ini.GetInt(section, key, &value, def);
    return value;
}

std::string OutputOf(const IniText& ini) { return std::string(ini.Output(), ini.OutputLength()); }

// ---- Lines ---------------------------------------------------------------------------

TEST(IniTextLines, EachPairOfLineEndsEndsOneLine) {
    IniText ini;
    SetText(ini, "a\r\nb\n\rc\r\rd\n\ne\r\n\r\nf\rg");
    std::string line, all;
    while (ini.ReadLine(&line)) all += "<" + line + ">";
    // CR LF, LF CR, CR CR and LF LF end one line; "\r\n\r\n" holds one empty line; the
    // unterminated "g" is never delivered.
    EXPECT_EQ(all, "<a><b><c><d><e><><f>");
}

TEST(IniTextLines, UnterminatedLastLineIsNotDelivered) {
    EXPECT_EQ(IntOf("[A]\r\nk=1", "A", "k", 5), 5);
    EXPECT_EQ(IntOf("[A]\r\nk=1\r\n", "A", "k", 5), 1);
    EXPECT_EQ(IntOf("", "A", "k", 5), 5);
}

// ---- Sections and keys -----------------------------------------------------------------

TEST(IniTextLookup, NamesAndKeysAreCaseSensitive) {
    EXPECT_EQ(IntOf("[common]\r\nOffsetX=3\r\n", "COMMON", "OffsetX"), -7);
    EXPECT_EQ(IntOf("[COMMON]\r\noffsetx=3\r\n", "COMMON", "OffsetX"), -7);
    EXPECT_EQ(IntOf("[COMMON]\r\nOffsetX=3\r\n", "COMMON", "OffsetX"), 3);
}

TEST(IniTextLookup, HeaderMayHaveBlanksAroundButNotInside) {
    EXPECT_EQ(IntOf("  [COMMON] \t\r\nk=4\r\n", "COMMON", "k"), 4);
    EXPECT_EQ(IntOf("[ COMMON ]\r\nk=4\r\n", "COMMON", "k"), -7);
    EXPECT_EQ(IntOf("[COMMON]\r\nk=4\r\n", " COMMON\t", "k"), 4);  // the name is trimmed
}

TEST(IniTextLookup, ValueTextRules) {
    const char* head = "[S]\r\n";
    EXPECT_EQ(IntOf(std::string(head) + "  OffsetX = 7\r\n", "S", "OffsetX"), 7);
    EXPECT_EQ(IntOf(std::string(head) + "OffsetX=\r\n", "S", "OffsetX"), -7);
    EXPECT_EQ(IntOf(std::string(head) + "OffsetX=abc\r\n", "S", "OffsetX"), 0);
    EXPECT_EQ(IntOf(std::string(head) + "OffsetX=12=3\r\n", "S", "OffsetX"), 12);
    EXPECT_EQ(IntOf(std::string(head) + "ScaleX=5\r\nx=1\r\nScaleX=9\r\n", "S", "ScaleX"), 5);
    EXPECT_EQ(IntOf(std::string(head) + "ScaleX=\r\nScaleX=9\r\n", "S", "ScaleX"), -7);
    EXPECT_EQ(IntOf(std::string(head) + "no equals\r\n\r\n   \r\nk=2\r\n", "S", "k"), 2);
}

TEST(IniTextLookup, ValueIsRawAndUntrimmed) {
    IniText ini;
    SetText(ini, "[S]\r\nname= a b \t\r\n");
    std::string value;
    ASSERT_TRUE(ini.FindValue("S", " name ", &value));
    EXPECT_EQ(value, " a b \t");
}

TEST(IniTextLookup, BracketLineEndsTheSection) {
    EXPECT_EQ(IntOf("[S]\r\n  [unclosed\r\nk=1\r\n", "S", "k"), -7);
    EXPECT_EQ(IntOf("[S]\r\n[T]\r\nk=1\r\n", "S", "k"), -7);
}

TEST(IniTextLookup, KeyBeforeTheFirstHeaderIsNeverFound) {
    EXPECT_EQ(IntOf("k=1\r\n[S]\r\nj=2\r\n", "S", "k"), -7);
    EXPECT_EQ(IntOf("k=1\r\n[S]\r\nj=2\r\n", "", "k"), -7);
}

TEST(IniTextLookup, SectionSearchIsCircularFromTheLastFound) {
    IniText ini;
    SetText(ini, "[A]\r\na=1\r\n[B]\r\nb=2\r\n[A]\r\na=3\r\n");
    int32_t v = 0;
    ini.GetInt("B", "b", &v, 0);
    EXPECT_EQ(v, 2);
    ini.GetInt("A", "a", &v, 0);  // the next [A] after [B]
    EXPECT_EQ(v, 3);
    ini.GetInt("B", "b", &v, 0);  // wraps to the start
    EXPECT_EQ(v, 2);
    ini.GetInt("C", "c", &v, 9);  // a miss leaves the section position alone
    EXPECT_EQ(v, 9);
    ini.GetInt("A", "a", &v, 0);
    EXPECT_EQ(v, 3);
}

TEST(IniTextSections, NextSectionSkipsTheLineAtThePositionAndKeepsBlanks) {
    IniText ini;
    SetText(ini, "[A]\r\n[ 12 ]\r\nx=1\r\n[B]\r\n");
    std::string name;
    ASSERT_TRUE(ini.NextSection(&name));  // position 0: the first line is skipped, header or not
    EXPECT_EQ(name, " 12 ");
    EXPECT_FALSE(ini.FindSection(name));  // looks for [12], which is not there
    ASSERT_TRUE(ini.NextSection(&name));
    EXPECT_EQ(name, "B");
    EXPECT_FALSE(ini.NextSection(&name));  // no wrap-around
}

// A line-by-line model of the section search and enumeration, against which the indexed
// search must give the same answers and leave the same position and cursor.
struct ScanModel {
    std::string text;
    size_t cursor = 0, pos = 0;

    static std::string Trim(const std::string& s) {
        size_t b = s.find_first_not_of(" \t\r\n\v\f");
        if (b == std::string::npos) return "";
        return s.substr(b, s.find_last_not_of(" \t\r\n\v\f") - b + 1);
    }
    bool ReadLine(std::string* line) {
        line->clear();
        if (cursor == text.size()) return false;
        size_t start = cursor;
        while (cursor < text.size() && text[cursor] != '\r' && text[cursor] != '\n') ++cursor;
        if (cursor == text.size()) return false;
        *line = text.substr(start, cursor - start);
        ++cursor;
        if (cursor < text.size() && (text[cursor] == '\r' || text[cursor] == '\n')) ++cursor;
        return true;
    }
    bool FindSection(const std::string& name) {
        if (text.empty()) return false;
        std::string target = "[" + Trim(name) + "]";
        size_t p = pos;
        cursor = p;
        std::string line;
        do {
            ReadLine(&line);
            if (Trim(line) == target) {
                pos = p;
                return true;
            }
            p = cursor;
            if (p == text.size()) p = cursor = 0;
        } while (p != pos);
        return false;
    }
    bool NextSection(std::string* name) {
        if (text.empty()) return false;
        std::string line;
        cursor = pos;
        ReadLine(&line);
        for (size_t p = cursor; ReadLine(&line); p = cursor) {
            line = Trim(line);
            if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
                pos = p;
                *name = line.substr(1, line.size() - 2);
                return true;
            }
        }
        return false;
    }
};

TEST(IniTextSections, IndexedSearchAnswersAsALineScan) {
    const char* pieces[] = {"[A]", "[B]", " [A] ", "[ A ]", "[]", "x=1", "", "\r", "\n", "\r\n", "[A"};
    const char* names[] = {"A", "B", " A ", "C", "", " "};
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        ScanModel model;
        for (int n = rng() % 12; n > 0; --n) model.text += pieces[rng() % 11];
        IniText ini;
        SetText(ini, model.text);
        for (int op = 0; op < 12; ++op) {
            std::string got, want;
            if (rng() % 3 == 0) {
                ASSERT_EQ(ini.NextSection(&got), model.NextSection(&want)) << model.text;
                ASSERT_EQ(got.empty() ? "" : got, want.empty() ? "" : want);
            } else {
                const char* name = names[rng() % 6];
                ASSERT_EQ(ini.FindSection(name), model.FindSection(name)) << model.text << "|" << name;
            }
            ASSERT_EQ(ini.SectionPosition(), model.pos) << model.text;
            bool a = ini.ReadLine(&got), b = model.ReadLine(&want);  // same cursor
            ASSERT_EQ(a, b);
            ASSERT_EQ(got, want);
        }
    }
}

// ---- Conversions -----------------------------------------------------------------------

TEST(IniTextConversion, OutOfRangeTextKeepsBitsOrSaturates) {
    IniText ini;
    SetText(ini,
            "[S]\r\nminus1=-1\r\nmaxu=4294967295\r\nover=4294967296\r\nunder=-2147483649\r\n"
            "big=99999999999999999999999\r\nnbig=-99999999999999999999999\r\nmaxu64=18446744073709551615\r\n"
            "i64min=-9223372036854775808\r\nb300=300\r\nspaced= \t+12x\r\nw=70000\r\ns=40000\r\n"
            "two64=18446744073709551616\r\n");
    uint32_t u = 0;
    ini.GetUInt("S", "minus1", &u, 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    ini.GetUInt("S", "maxu", &u, 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);
    ini.GetUInt("S", "over", &u, 0);
    EXPECT_EQ(u, 0xFFFFFFFFu);  // saturates
    ini.GetUInt("S", "under", &u, 0);
    EXPECT_EQ(u, 0x80000000u);  // saturates at -2^31
    int32_t i = 0;
    ini.GetInt("S", "maxu", &i, 0);
    EXPECT_EQ(i, INT32_MAX);
    ini.GetInt("S", "nbig", &i, 0);
    EXPECT_EQ(i, INT32_MIN);
    ini.GetLong("S", "spaced", &i, 0);
    EXPECT_EQ(i, 12);
    int64_t l = 0;
    ini.GetInt64("S", "big", &l, 0);
    EXPECT_EQ(l, INT64_MAX);
    ini.GetInt64("S", "i64min", &l, 0);
    EXPECT_EQ(l, INT64_MIN);
    uint64_t ul = 0;
    ini.GetUInt64("S", "maxu64", &ul, 0);
    EXPECT_EQ(ul, UINT64_MAX);
    ini.GetUInt64("S", "minus1", &ul, 0);
    EXPECT_EQ(ul, UINT64_MAX);
    ini.GetUInt64("S", "big", &ul, 0);
    EXPECT_EQ(ul, UINT64_MAX);
    ini.GetUInt64("S", "two64", &ul, 0);  // 2^64: one past the largest value, not 0
    EXPECT_EQ(ul, UINT64_MAX);
    ini.GetInt64("S", "two64", &l, 0);
    EXPECT_EQ(l, INT64_MAX);
    ini.GetUInt64("S", "nbig", &ul, 0);
    EXPECT_EQ(ul, 1ull << 63);
    uint8_t b = 0;
    ini.GetByte("S", "b300", &b, 0);
    EXPECT_EQ(b, 44);  // low 8 bits of 300
    uint16_t w = 0;
    ini.GetWord("S", "w", &w, 0);
    EXPECT_EQ(w, 70000 & 0xFFFF);
    int16_t s = 0;
    ini.GetShort("S", "s", &s, 0);
    EXPECT_EQ(s, static_cast<int16_t>(40000 - 65536));
}

struct AllTypes {
    uint8_t b = 255;
    int16_t s = -32768;
    uint16_t w = 65535, w3 = 1;
    uint32_t u = 4294967295u, u5 = 5, u7 = 7, u9 = 9;
    int32_t i = INT32_MIN, i8 = -8;
    int64_t l = INT64_MIN;
    uint64_t ul = UINT64_MAX;
    std::string str = " a=b ";
    uint32_t skipped = 77;
};

std::vector<SettingDescriptor> RowsFor(AllTypes& v) {
    return {{0, "b", &v.b, 1, 0, nullptr},       {1, "s", &v.s, 2, 0, nullptr},
            {2, "w", &v.w, 3, 0, nullptr},       {3, "w3", &v.w3, 4, 0, nullptr},
            {4, "u", &v.u, 5, 0, nullptr},       {5, "u5", &v.u5, 6, 0, nullptr},
            {7, "u7", &v.u7, 7, 0, nullptr},     {9, "u9", &v.u9, 8, 0, nullptr},
            {6, "i", &v.i, 0xFFFFFFF7u, 0, nullptr}, {8, "i8", &v.i8, 10, 0, nullptr},
            {10, "l", &v.l, 0xFFFFFFFFu, 0x7FFFFFFFu, nullptr},
            {11, "ul", &v.ul, 1, 2, nullptr},    {12, "str", &v.str, 0, 0, "dflt"},
            {13, "skipped", &v.skipped, 0, 0, nullptr}};
}

TEST(IniTextSettings, EveryTypeReadsBackWhatItWrote) {
    AllTypes written;
    auto rows = RowsFor(written);
    IniText ini;
    ASSERT_TRUE(ini.ResetOutput(100000));
    ini.PutSection("T");
    ini.WriteSettings(rows.data(), rows.size());
    EXPECT_EQ(OutputOf(ini),
              "[T]\r\nb=255\r\ns=-32768\r\nw=65535\r\nw3=1\r\nu=4294967295\r\nu5=5\r\nu7=7\r\n"
              "u9=9\r\ni=-2147483648\r\ni8=-8\r\nl=-9223372036854775808\r\n"
              "ul=18446744073709551615\r\nstr= a=b \r\n");

    AllTypes read;
    read = AllTypes{};
    read.b = 0, read.s = 0, read.w = 0, read.u = 0, read.i = 0, read.l = 0, read.ul = 0, read.str.clear();
    auto readRows = RowsFor(read);
    SetText(ini, OutputOf(ini));
    ini.ReadSettings("T", readRows.data(), readRows.size());
    EXPECT_EQ(read.b, written.b);
    EXPECT_EQ(read.s, written.s);
    EXPECT_EQ(read.w, written.w);
    EXPECT_EQ(read.u, written.u);
    EXPECT_EQ(read.i, written.i);
    EXPECT_EQ(read.l, written.l);
    EXPECT_EQ(read.ul, written.ul);
    EXPECT_EQ(read.str, written.str);
    EXPECT_EQ(read.skipped, 77u);  // a code above 12 is neither read nor written
}

TEST(IniTextSettings, MissingKeysTakeTheRowDefaults) {
    AllTypes v;
    auto rows = RowsFor(v);
    IniText ini;
    SetText(ini, "[T]\r\n");
    ini.ReadSettings("T", rows.data(), rows.size());
    EXPECT_EQ(v.b, 1);
    EXPECT_EQ(v.s, 2);
    EXPECT_EQ(v.w, 3);
    EXPECT_EQ(v.i, -9);
    EXPECT_EQ(v.l, INT64_C(0x7FFFFFFFFFFFFFFF));  // both halves
    EXPECT_EQ(v.ul, UINT64_C(0x200000001));
    EXPECT_EQ(v.str, "dflt");
}

// ---- Output ----------------------------------------------------------------------------

TEST(IniTextOutput, HeadersAndKeyLines) {
    IniText ini;
    ASSERT_TRUE(ini.ResetOutput(100000));
    ini.PutSection("  X \t");
    ini.PutKeySection(-1);
    ini.PutKeySection(INT64_C(4294967298));
    ini.PutString(" key ", " v ");
    EXPECT_EQ(OutputOf(ini), "[X]\r\n[-1]\r\n[4294967298]\r\nkey= v \r\n");
}

TEST(IniTextOutput, GrowsInStepsOf100000) {
    IniText ini;
    ASSERT_TRUE(ini.ResetOutput(100000));
    std::string big(250000, 'x');
    ini.AppendText(big.c_str());
    EXPECT_EQ(ini.OutputCapacity(), 300000u);
    EXPECT_EQ(ini.OutputLength(), 250000u);
}

size_t g_reallocLimit = SIZE_MAX;
void* LimitedRealloc(void* p, size_t size) { return size > g_reallocLimit ? nullptr : std::realloc(p, size); }

TEST(IniTextOutput, FailedGrowthDropsThatTextAndKeepsTheBuffer) {
    IniText ini;
    ini.SetReallocate(LimitedRealloc);
    g_reallocLimit = 100000;
    ASSERT_TRUE(ini.ResetOutput(100000));
    ini.AppendText(std::string(99990, 'a').c_str());
    ini.PutString("key", "value");  // 11 bytes: does not fit and cannot grow
    EXPECT_EQ(ini.OutputLength(), 99990u);
    EXPECT_EQ(ini.OutputCapacity(), 100000u);
    ini.PutString("k", "1");  // 5 bytes still fit
    EXPECT_EQ(ini.OutputLength(), 99995u);
    EXPECT_EQ(std::string(ini.Output() + 99990, 5), "k=1\r\n");
    g_reallocLimit = 0;
    EXPECT_FALSE(ini.ResetOutput(100000));
    ini.AppendText("x");  // no buffer, no growth: nothing happens
    EXPECT_EQ(ini.OutputLength(), 0u);
    g_reallocLimit = SIZE_MAX;
}

// ---- Hostile text ----------------------------------------------------------------------

TEST(IniTextHostile, RandomBytesNeverFail) {
    std::mt19937 rng(11);
    const char alphabet[] = "[]=\r\n \tA1-";
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (int n = rng() % 200; n > 0; --n)
            text += rng() % 4 ? alphabet[rng() % 10] : static_cast<char>(rng());
        IniText ini;
        SetText(ini, text);
        std::string name;
        int sections = 0;
        while (ini.NextSection(&name)) {
            int32_t v;
            size_t header = ini.SectionPosition();
            ini.GetInt(name, "A", &v, 0);
            ini.SetSectionPosition(header);
            ASSERT_LT(++sections, 1000);
        }
    }
}

}  // namespace
}  // namespace kvx
