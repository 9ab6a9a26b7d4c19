// A child program's messages kept from kvx-host's standard error and read back when wanted:
// natively and, for the Windows handle swap, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ffmpeg/child_messages.h"
#include "ffmpeg/child_process.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace kvx {
namespace {

// 300 numbered lines on standard error, "out" on standard output (after each line with cmd).
std::vector<std::string> NoisyProgram() {
#if defined(_WIN32)
    return {"cmd", "/c", "for /L %i in (1,1,300) do @echo line %i 1>&2 & echo out"};
#else
    return {"sh", "-c", "for i in $(seq 300); do echo line $i; done >&2; echo out"};
#endif
}

// What standard error is, to see that it is back in place.
unsigned long long StandardErrorIdentity() {
#if defined(_WIN32)
    return reinterpret_cast<uintptr_t>(GetStdHandle(STD_ERROR_HANDLE));
#else
    struct stat st {};
    fstat(2, &st);
    return static_cast<unsigned long long>(st.st_ino) ^ (static_cast<unsigned long long>(st.st_dev) << 32);
#endif
}

// cmd ends its lines with " \r\n".
std::string PlainLines(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    for (size_t at; (at = text.find(" \n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

TEST(ChildMessages, KeptFromStandardErrorAndTheirLastLinesReadBack) {
    const unsigned long long before = StandardErrorIdentity();
    ChildMessages messages;
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(messages.WhileStarting([&] { return child.Start(NoisyProgram(), ChildProcess::Pipe::FromOutput, error); }))
        << error;
    EXPECT_EQ(StandardErrorIdentity(), before);  // kvx-host's own is back at once
    std::string out;
    char block[256];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, child.Stream())) > 0) out.append(block, n);
    ASSERT_EQ(child.Finish(), 0);
    EXPECT_EQ(PlainLines(out).find("out"), 0u);
    EXPECT_EQ(out.find("line"), std::string::npos);

    // The last lines only, whole ones, at most the limit, each ending in '\n' alone: shown
    // through standard error in text mode, "\r\n" would become "\r\r\n".
    EXPECT_EQ(messages.Tail().find('\r'), std::string::npos);
    const std::string tail = PlainLines(messages.Tail());
    EXPECT_LE(tail.size(), static_cast<size_t>(ChildMessages::kTailBytes));
    EXPECT_GT(tail.size(), static_cast<size_t>(ChildMessages::kTailBytes) / 2);
    EXPECT_EQ(tail.compare(0, 5, "line "), 0) << tail.substr(0, 20);
    const std::string last = "line 300\n";
    EXPECT_EQ(tail.compare(tail.size() - last.size(), last.size(), last), 0) << tail.substr(tail.size() - 20);
}

TEST(ChildMessages, AProgramMayWriteAnyAmountAndNoFileHoldsIt) {
    // 8 MB of messages, then a last line. Natively the program may write no file over 1 MB
    // (a file of its messages would end it with SIGXFSZ); what comes back is the tail.
#if defined(_WIN32)
    const std::vector<std::string> noisy = {"cmd", "/c",
        "for /L %i in (1,1,3000) do @echo 0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789 1>&2"};
    const std::string last = "0123456789\n";
#else
    const std::vector<std::string> noisy = {"sh", "-c", "head -c 8000000 /dev/zero | tr '\\0' x >&2; echo >&2; echo done >&2"};
    const std::string last = "done\n";
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &small);  // inherited by the program
#endif
    ChildMessages messages;
    ChildProcess child;
    std::string error;
    const bool started =
        messages.WhileStarting([&] { return child.Start(noisy, ChildProcess::Pipe::FromOutput, error); });
#if !defined(_WIN32)
    setrlimit(RLIMIT_FSIZE, &before);
#endif
    ASSERT_TRUE(started) << error;
    char block[256];
    while (std::fread(block, 1, sizeof block, child.Stream()) > 0) {
    }
    EXPECT_EQ(child.Finish(), 0);
    const std::string tail = PlainLines(messages.Tail());
    EXPECT_LE(tail.size(), static_cast<size_t>(ChildMessages::kTailBytes));
    ASSERT_GE(tail.size(), last.size());
    EXPECT_EQ(tail.substr(tail.size() - last.size()), last);
}

}  // namespace
}  // namespace kvx
