// Loads the built plug-in file (beside the test executable, or $KVX_PLUGIN) through its
// exports, as a host does.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_loader.h"

namespace kvx {

std::string PluginPath();

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(library.Open(PluginPath(), error)) << error;
        d = library.Descriptor();
    }
    PluginLibrary library;
    PluginDescriptor* d = nullptr;
};

// A ChannelInfo with its name inline.
struct TestChannel {
    std::vector<uint8_t> record;
    TestChannel(uint32_t low, uint32_t high, const std::string& name)
        : record(offsetof(ChannelInfo, name) + name.size() + 1, 0) {
        info()->keyLow = low;
        info()->keyHigh = high;
        std::copy(name.begin(), name.end(), info()->name);
    }
    ChannelInfo* info() { return reinterpret_cast<ChannelInfo*>(record.data()); }
};

}  // namespace kvx
