// An in-memory file system for the fuzz targets: every read sees the fuzzer's settings
// text, every write is kept in memory (no disk traffic, no state left between runs).
#pragma once
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kvx {

class MemoryFiles : public FileSystem {
public:
    std::string settingsText;              // what every settings file reads as
    std::map<std::string, std::string> written;

    ReadStatus ReadWhole(const std::string& path, std::vector<char>* bytes) override {
        auto it = written.find(path);
        const std::string& text = it != written.end() ? it->second : settingsText;
        bytes->assign(text.begin(), text.end());
        return ReadStatus::kRead;
    }
    CreateStatus WriteNew(const std::string& path, const char* data, size_t size) override {
        if (written.count(path)) return CreateStatus::kExists;
        written[path].assign(data, size);
        return CreateStatus::kWritten;
    }
    bool Replace(const std::string& source, const std::string& target) override {
        auto it = written.find(source);
        if (it == written.end()) return false;
        written[target] = it->second;
        written.erase(source);
        return true;
    }
    bool Overwrite(const std::string& path, const char* data, size_t size) override {
        written[path].assign(data, size);
        return true;
    }
    void Remove(const std::string& path) override { written.erase(path); }
    void CreateFolder(const std::string&) override {}
};

}  // namespace kvx
