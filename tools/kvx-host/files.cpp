#include "files.h"

namespace kvx {

std::string FolderPart(const std::string& path) { return path.substr(0, path.find_last_of("/\\") + 1); }
std::string NamePart(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    FILE* f = OpenFile(path, "rb");
    if (!f) return false;
    bytes.clear();
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
    bool ok = !std::ferror(f);  // a folder opens but cannot be read
    std::fclose(f);
    return ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
        start = end + 1;
    }
    return lines;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    std::string temp;
    FILE* f = CreateBeside(path, ".tmp", temp, error);
    if (!f) return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && FlushToDisk(f);
    written = std::fclose(f) == 0 && written;
    if (!written || !MoveInto(temp, path, true)) {
        error = std::string(written ? "cannot replace " + path : "cannot write " + temp) + ": " + SystemErrorText();
        RemoveFile(temp);
        return false;
    }
    return true;
}

}  // namespace kvx
