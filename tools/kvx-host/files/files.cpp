#include "files/files.h"

#include <cctype>

#include "platform/file_system.h"

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

std::string Extension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos) return std::string();
    return Lower(name.substr(dot + 1));
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
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
    // The plug-in's own atomic replace, with kvx-host's UTF-8 paths.
    if (ReplaceFileContent(Utf8Files(), path, bytes.data(), bytes.size())) return true;
    error = "cannot write " + path + ": " + SystemErrorText();
    return false;
}

}  // namespace kvx
