// What the hostile-host and lifecycle tests share: the settings file beside the test
// executable (written for a test, put back as it was afterwards), test pictures, and
// address-space tricks that make the plug-in's own allocations fail or its reads fault.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/abi.h"
#include "support/page_fence.h"

namespace kvx {

// Plugins/KVX_Scaler.ini beside the test executable, where the plug-in looks for it.
std::string SettingsFilePath();
bool ReadWholeFile(const std::string& path, std::string* text);

// Writes the settings file for the life of the object and removes it afterwards, so the
// tests that expect the built-in defaults find none (a run that crashed half-way leaves
// its file to the next test that writes one).
class SettingsFileScope {
public:
    explicit SettingsFileScope(const std::string& text);
    ~SettingsFileScope() { Remove(); }
    SettingsFileScope(const SettingsFileScope&) = delete;
    SettingsFileScope& operator=(const SettingsFileScope&) = delete;
    void Remove();
};

// Settings that make processing visible: every channel shares COMMON with the given values.
std::string ProcessingSettings(int scale, int deinterlace, int interlace = 0);

// A frame of a format, filled with a byte ramp.
struct Picture {
    VideoFormat format;
    std::vector<uint8_t> bytes;
    explicit Picture(VideoFormat f);
    bool TopRowBlack() const;  // YUY2: Y 0, U and V 128 along the first row
};

// Pages whose last byte is followed by an inaccessible page: a read past `size` bytes at
// Data() faults at once.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t size) : fence_(size), data_(fence_.EndingAtFence(size)) {}
    uint8_t* Data() const { return fence_.Ok() ? data_ : nullptr; }

private:
    PageFence fence_;
    uint8_t* data_;
};

// While alive, large allocations fail (the address space left is a few megabytes).
// Available() is false where that cannot be arranged (sanitizer builds).
class AddressSpaceSqueeze {
public:
    AddressSpaceSqueeze();
    ~AddressSpaceSqueeze();
    AddressSpaceSqueeze(const AddressSpaceSqueeze&) = delete;
    AddressSpaceSqueeze& operator=(const AddressSpaceSqueeze&) = delete;
    static bool Available();
    void Release();

private:
    std::vector<void*> reserved_;
    bool limited_ = false;
    uint64_t oldLimit_ = 0;
};

#if defined(_WIN32)
// A dialog window (class "#32770") of this thread, or null.
void* FindThreadDialog();
#endif

}  // namespace kvx
