// A child program fed through its input, read from, or both (ffmpeg given its sampling filter
// once ffprobe has measured the recording): natively and, for the Windows pipes, under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ffmpeg/child_process.h"

namespace kvx {
namespace {

// Reads one line from standard input and answers "got LINE".
std::vector<std::string> Answering() {
#if defined(_WIN32)
    return {"cmd", "/v:on", "/c", "set /p x=&echo got !x!"};
#else
    return {"sh", "-c", "read x; echo got $x"};
#endif
}

std::string ReadAll(FILE* stream) {
    std::string text;
    char block[256];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, n);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(ChildProcess, InputSentAfterTheStartReachesTheProgram) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(Answering(), ChildProcess::Pipe::Both, error)) << error;
    EXPECT_TRUE(child.SendInput("select=1\n"));
    EXPECT_EQ(ReadAll(child.Stream()), "got select=1\n");
    EXPECT_EQ(child.Finish(), 0);
    EXPECT_FALSE(child.SendInput("again\n"));  // its input went with the first text
}

// Frames written to a program's input (how the encoder gets them) reach it: it exits 0 only
// when the line it reads is "hello".
TEST(ChildProcess, WhatIsWrittenToTheInputReachesTheProgram) {
#if defined(_WIN32)
    const std::vector<std::string> checking = {"cmd", "/v:on", "/c", "set /p x=&if \"!x!\"==\"hello\" (exit 0) else (exit 3)"};
#else
    const std::vector<std::string> checking = {"sh", "-c", "read x; [ \"$x\" = hello ] || exit 3"};
#endif
    for (const char* line : {"hello\n", "goodbye\n"}) {
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(checking, ChildProcess::Pipe::ToInput, error)) << error;
        ASSERT_GE(std::fputs(line, child.Stream()), 0);
        EXPECT_EQ(child.Finish(), line[0] == 'h' ? 0 : 3) << line;
    }
}

// A run refused after the start never sends the text: the waiting program must see its input
// end, or Finish would wait for ever.
TEST(ChildProcess, FinishWithoutInputLetsAWaitingProgramEnd) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(Answering(), ChildProcess::Pipe::Both, error)) << error;
    child.Finish();
    EXPECT_EQ(child.Stream(), nullptr);
}

}  // namespace
}  // namespace kvx
