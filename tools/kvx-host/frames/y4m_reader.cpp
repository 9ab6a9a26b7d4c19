#include "frames/y4m_reader.h"

#include <cstdlib>
#include <sstream>

namespace kvx {

namespace {

// One line of at most `limit` characters, without its newline; false at the end of the
// stream or on a longer line.
bool ReadLine(FILE* stream, size_t limit, std::string& line) {
    line.clear();
    for (int c; (c = std::getc(stream)) != EOF;) {
        if (c == '\n') return true;
        if (line.size() == limit) return false;
        line.push_back(static_cast<char>(c));
    }
    return false;
}

}  // namespace

// "YUV4MPEG2 W1920 H1080 F25:1 Ip A1:1 C420jpeg ...": the size must be the one asked for, the
// chroma (C, 4:2:0 when left out) of the 4:2:0 family.
bool Y4mReader::CheckHeader(const std::string& line, std::string& error) const {
    std::istringstream words(line);
    std::string word;
    words >> word;
    long long width = -1, height = -1;
    bool planes420 = true;
    while (words >> word) {
        if (word[0] == 'W') width = std::atoll(word.c_str() + 1);
        if (word[0] == 'H') height = std::atoll(word.c_str() + 1);
        if (word[0] == 'C') planes420 = word.compare(1, 3, "420") == 0;
    }
    if (line.compare(0, 10, "YUV4MPEG2 ") != 0 || !planes420) {
        error = "ffmpeg's frames are not 4:2:0 YUV4MPEG2 (its header: " + line.substr(0, 80) + ")";
        return false;
    }
    if (width != g_.width || height != g_.height) {
        error = "ffmpeg decodes frames of " + std::to_string(width) + "x" + std::to_string(height) + ", not the " +
                std::to_string(g_.width) + "x" + std::to_string(g_.height) + " ffprobe gave";
        return false;
    }
    return true;
}

Y4mReader::Result Y4mReader::Next(std::vector<uint8_t>& planes, std::string& error) {
    std::string line;
    if (!headerRead_) {
        if (!ReadLine(stream_, 1024, line)) {
            if (line.empty() && !std::ferror(stream_)) return Result::End;
            error = "ffmpeg's frames have no YUV4MPEG2 header";
            return Result::Error;
        }
        if (!CheckHeader(line, error)) return Result::Error;
        headerRead_ = true;
    }
    if (!ReadLine(stream_, 1024, line)) {
        if (line.empty() && !std::ferror(stream_)) return Result::End;
        error = "ffmpeg's frames end inside a frame's header";
        return Result::Error;
    }
    if (line.compare(0, 5, "FRAME") != 0) {
        error = "ffmpeg's frames lost their order (a line \"" + line.substr(0, 40) + "\" where a frame starts)";
        return Result::Error;
    }
    planes.resize(PlanarFrameBytes(g_));
    if (std::fread(planes.data(), 1, planes.size(), stream_) != planes.size()) {
        error = "ffmpeg's frames end inside a frame";
        return Result::Error;
    }
    return Result::Frame;
}

}  // namespace kvx
