// The whole frame path through the exports: an arbitrary settings file, then an arbitrary
// sequence of the six callbacks with arbitrary formats (zero, negative, huge, odd,
// inconsistent bytes per pixel), channels and frames, at a SIMD level the input's last byte
// picks, so every level's kernels meet every frame. Frames are exactly as large as the
// format says, so ASan reports any byte touched outside them. Random settings text almost
// never turns the line blend on: the committed input wider-format-without-free does, and
// announces ever wider formats without Free in between, for the fuzzer to vary from.
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/abi.h"
#include "video/dispatch.h"
#include "memory_files.h"

extern "C" PluginDescriptor* Korvanta_Plugin_PR();

namespace {

struct Reader {
    const uint8_t* data;
    size_t size;
    uint32_t Byte() {
        if (!size) return 0;
        --size;
        return *data++;
    }
    int32_t Int(int32_t lo, int32_t hi) {
        uint32_t v = Byte() << 24 | Byte() << 16 | Byte() << 8 | Byte();
        // The span is counted in 64 bits: the whole int32 range has 2^32 values.
        const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(hi) - lo) + 1;
        return static_cast<int32_t>(lo + static_cast<int64_t>(v % span));
    }
};

int32_t KnowsEveryOtherChannel(uint32_t keyLow, uint32_t) { return keyLow & 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static kvx::MemoryFiles files;
    kvx::SetFiles(&files);
    files.written.clear();
    // The last byte, which the reader below meets last if at all, so the committed inputs
    // keep their meaning.
    kvx::SetSimdLevelLimit(static_cast<kvx::SimdLevel>(size ? data[size - 1] % 4 : 3));
    Reader in{data, size};
    size_t textLength = in.Int(0, static_cast<int32_t>(in.size < 4096 ? in.size : 4096));
    textLength = textLength > in.size ? in.size : textLength;
    files.settingsText.assign(reinterpret_cast<const char*>(in.data), textLength);
    in.data += textLength;
    in.size -= textLength;

    PluginDescriptor* d = Korvanta_Plugin_PR();
    // The plug-in keeps its format from one input to the next, and so does this host: every
    // frame is as large as the last format the plug-in was given.
    static VideoFormat format{};
    std::vector<uint8_t> frame;
    std::vector<uint8_t> channel(12 + 300);
    for (int op = 0; op < 64 && in.size; ++op) {
        switch (in.Byte() % 9) {
            case 0: {
                InitInfo init{in.Byte(), in.Byte() & 1 ? KnowsEveryOtherChannel : nullptr};
                d->Init(in.Byte() & 7 ? &init : nullptr);
                break;
            }
            case 1: {
                bool absurd = in.Byte() % 8 == 0;
                VideoFormat next{};
                next.width = absurd ? in.Int(INT32_MIN, INT32_MAX) : in.Int(-2, 400);
                next.height = absurd ? in.Int(INT32_MIN, INT32_MAX) : in.Int(-2, 400);
                next.bytesPerPixel = in.Int(-1, 4);
                next.pixelFormat = in.Int(-1, 2);
                if (in.Byte() & 7) {
                    format = next;  // the frames that follow are of this format
                    d->FormatChange(&format);
                } else {
                    d->FormatChange(nullptr);
                }
                break;
            }
            case 2:
            case 3: {
                // A frame as large as the host's own format says (a small one for absurd formats).
                const int32_t side = 1 << 22;  // keeps the product inside 64 bits
                int64_t bytes = format.width > 0 && format.width <= side && format.height > 0 &&
                                        format.height <= side && format.bytesPerPixel > 0
                                    ? static_cast<int64_t>(format.width) * format.height * format.bytesPerPixel
                                    : 0;
                // A format of positive sizes may be one the plug-in accepts: its frames must be
                // whole. Larger ones than the harness wants to allocate are not sent at all.
                if (bytes > (1 << 22) || (bytes == 0 && format.width > 0 && format.height > 0 &&
                                          format.bytesPerPixel > 0))
                    break;
                frame.assign(bytes > 0 ? static_cast<size_t>(bytes) : 16, 0x5A);
                for (size_t i = 0; i < frame.size(); i += 61) frame[i] = static_cast<uint8_t>(in.Byte());
                for (size_t i = 0; i < channel.size(); ++i) channel[i] = static_cast<uint8_t>(in.Byte() | 1);
                FrameInfo info{};
                info.pixels = frame.data();
                info.channel = in.Byte() & 7 ? reinterpret_cast<ChannelInfo*>(channel.data()) : nullptr;
                d->ProcessFrame(&info);
                break;
            }
            case 4: d->Free(); break;
            case 5: d->Deinit(); break;
            case 6: {
                HostWindow none = nullptr;
                d->ShowSettings(in.Byte() & 1 ? &none : nullptr);
                break;
            }
            case 7: {
                FrameInfo info{};
                d->ProcessFrame(in.Byte() & 1 ? &info : nullptr);
                break;
            }
            default: {
                // A channel name without any terminator in the whole record.
                std::memset(channel.data() + 12, 'A', channel.size() - 12);
                break;
            }
        }
    }
    d->Free();
    d->Deinit();
    kvx::SetFiles(nullptr);
    return 0;
}
