// The settings file: arbitrary bytes as the file, then channel switches and dialog-side
// operations, then a save into memory. The saved text, loaded again and saved again, must
// come out byte for byte the same (the round trip is stable).
#include <cstdint>
#include <string>

#include "memory_files.h"
#include "settings/settings_store.h"

namespace {

int32_t KnowsOddChannels(uint32_t keyLow, uint32_t) { return keyLow & 1; }

const std::string* SavedText(const kvx::MemoryFiles& files) {
    for (const auto& entry : files.written)
        if (entry.first.size() >= 4 && entry.first.compare(entry.first.size() - 4, 4, ".ini") == 0)
            return &entry.second;
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvx::MemoryFiles files;
    kvx::FileSystem* previous = kvx::SetFiles(&files);
    size_t split = size > 0 ? data[0] % 32 : 0;
    split = split > size ? size : split;
    const uint8_t* ops = data + (size - split);
    files.settingsText.assign(reinterpret_cast<const char*>(data), size - split);

    {
        kvx::SettingsStore store;
        store.Load("KVX_Scaler", 0, KnowsOddChannels);
        kvx::ChannelProfile values;
        for (size_t i = 0; i < split; ++i) {
            uint8_t op = ops[i];
            switch (op % 8) {
                case 0: store.BeginFrame(op >> 3, op >> 6, "fuzz", &values); break;
                case 1: store.TakeSnapshot(); break;
                case 2: store.RestoreSnapshot(); break;
                case 3: store.ResetToDefaults(); break;
                case 4: store.SetPerChannel(op & 8); break;
                case 5: store.EditCurrent([&](kvx::ChannelProfile& p) { p.scaleX = -7 * op; }); break;
                case 6: store.SetDialogPos(op, -op); break;
                default: store.SelectChannel(op, 0); break;
            }
        }
        store.Save();
    }
    const std::string* saved = SavedText(files);
    if (saved) {
        std::string first = *saved;
        files.settingsText = first;
        files.written.clear();
        {
            kvx::SettingsStore again;
            again.Load("KVX_Scaler", 0, nullptr);
            again.Save();
        }
        // Unchanged text is not written at all; a write must reproduce the text exactly.
        if (const std::string* second = SavedText(files))
            if (*second != first) __builtin_trap();
    }
    kvx::SetFiles(previous);
    return 0;
}
