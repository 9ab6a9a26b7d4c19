#include "frame_source.h"

namespace kvx {

namespace {

class RawSource : public FrameSource {
public:
    RawSource(FILE* file, bool owned, const FrameGeometry& g, long long limit, long long lengthHint)
        : file_(file), owned_(owned), g_(g), limit_(limit), length_(lengthHint) {
        const long long frameBytes = static_cast<long long>(g.FrameBytes());
        if (std::fseek(file, 0, SEEK_END) == 0) {
            const long long bytes = std::ftell(file);
            std::fseek(file, 0, SEEK_SET);
            if (bytes >= 0 && frameBytes > 0) length_ = bytes / frameBytes;
        }
        if (limit_ >= 0 && (length_ < 0 || length_ > limit_)) length_ = limit_;
    }
    ~RawSource() override {
        if (owned_) std::fclose(file_);
    }

    Result Next(std::vector<uint8_t>& frame, std::string& error) override {
        if (limit_ >= 0 && index_ >= limit_) return Result::End;
        frame.resize(g_.FrameBytes());
        const size_t got = std::fread(frame.data(), 1, frame.size(), file_);
        if (got == 0) return Result::End;
        if (got != frame.size()) {
            error = "input ends inside frame " + std::to_string(index_) + " (" + std::to_string(got) +
                    " of " + std::to_string(frame.size()) + " bytes): are --size " +
                    std::to_string(g_.width) + "x" + std::to_string(g_.height) + " and --format right?";
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

std::unique_ptr<FrameSource> MakeRawSource(FILE* file, bool owned, const FrameGeometry& g, long long limit,
                                           long long lengthHint) {
    return std::unique_ptr<FrameSource>(new RawSource(file, owned, g, limit, lengthHint));
}

}  // namespace kvx
