// Loads the built plug-in file (beside the test executable, or $KVX_PLUGIN) through its
// exports, as a host does.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/channel_record.h"
#include "plugin/plugin_loader.h"

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

}  // namespace kvx
