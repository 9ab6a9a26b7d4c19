#include "frames/frame_source.h"

#include <cstring>

namespace kvx {
namespace {

class PatternSource : public FrameSource {
public:
    PatternSource(const FrameGeometry& g, long long count) : g_(g), count_(count) {
        DrawTestPattern(still_, g_, -1, 0, g_.width, 0, g_.height);
    }
    Result Next(std::vector<uint8_t>& frame, std::string&) override {
        if (index_ >= count_) return Result::End;
        const int i = static_cast<int>(index_++ % (1LL << 30));
        frame = still_;
        int x0, x1, y0, y1;
        PatternMarkerArea(g_, i, x0, x1, y0, y1);
        DrawTestPattern(frame, g_, i, x0, x1, y0, y1);
        return Result::Frame;
    }
    long long Length() const override { return count_; }

private:
    FrameGeometry g_;
    long long count_, index_ = 0;
    std::vector<uint8_t> still_;  // the pattern without its moving marker
};

class RawSource : public FrameSource {
public:
    RawSource(FILE* file, bool owned, const FrameGeometry& g, long long limit, long long lengthHint)
        : file_(file), owned_(owned), g_(g), limit_(limit), length_(lengthHint) {
        // A regular file's size gives the number of frames.
        if (owned_ && std::fseek(file_, 0, SEEK_END) == 0) {
            long long bytes = std::ftell(file_);
            std::fseek(file_, 0, SEEK_SET);
            if (bytes >= 0) length_ = bytes / static_cast<long long>(g_.FrameBytes());
        }
        if (limit_ >= 0 && (length_ < 0 || length_ > limit_)) length_ = limit_;
    }
    ~RawSource() override {
        if (owned_) std::fclose(file_);
    }
    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        if (limit_ >= 0 && index_ >= limit_) return Result::End;
        const size_t bytes = g_.FrameBytes();
        frame.resize(bytes);
        size_t got = std::fread(frame.data(), 1, bytes, file_);
        if (got == 0 && !std::ferror(file_)) return Result::End;
        if (got != bytes) {
            error = "input ends inside frame " + std::to_string(index_) + " (" + std::to_string(got) + " of " +
                    std::to_string(bytes) + " bytes): is the size " + std::to_string(g_.width) + "x" +
                    std::to_string(g_.height) + " and the format right?";
            return Result::Error;
        }
        if (g_.format == HostFormat::Bgr24) FlipRows(frame, g_);
        ++index_;
        return Result::Frame;
    }
    long long Length() const override { return length_; }

private:
    FILE* file_;
    bool owned_;
    FrameGeometry g_;
    long long limit_, length_, index_ = 0;
};

}  // namespace

std::unique_ptr<FrameSource> MakePatternSource(const FrameGeometry& g, long long count) {
    return std::unique_ptr<FrameSource>(new PatternSource(g, count));
}

std::unique_ptr<FrameSource> MakeRawSource(FILE* file, bool owned, const FrameGeometry& g, long long limit,
                                           long long lengthHint) {
    return std::unique_ptr<FrameSource>(new RawSource(file, owned, g, limit, lengthHint));
}

}  // namespace kvx
