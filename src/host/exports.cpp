// The two exported functions, the callback table and the callbacks themselves.
#include <cstring>

#include "host/abi.h"
#include "host/callback_guard.h"
#include "host/plugin_state.h"
#include "platform/module.h"
#include "ui/dialog_host.h"
#include "video/aligned_buffer.h"

namespace kvx {
namespace {

PluginState g_state;

// "Масштабирование кадра" in code page 1251, as byte escapes so no source encoding can alter it.
const char kPluginName[] =
    "\xCC\xE0\xF1\xF8\xF2\xE0\xE1\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5\x20\xEA\xE0\xE4\xF0\xE0";
static_assert(sizeof(kPluginName) == 22, "21 characters and the terminator");

void ReleaseLineBuffer() {
    AlignedFree(g_state.lineBuffer);
    g_state.lineBuffer = nullptr;
}

void KVX_CDECL Init(InitInfo* info) {
    Guarded([&] {
        uint32_t reserved = info ? info->reserved : 0;
        ChannelCheckProc check = info ? info->channelCheck : nullptr;
        g_state.store.Load(ModuleBaseName().c_str(), reserved, check);
    });
}

int32_t KVX_CDECL FormatChange(VideoFormat* format) {
    return Guarded(1, [&] {
        if (!format) return 1;
        VideoFormat f = *format;  // read once: the host owns the record
        g_state.format = f;
        FormatCheck check = CheckFormat(f);
        g_state.formatUsable = check.usable;
        g_state.surface.Configure(check.usable ? f.width : 0, check.usable ? f.height : 0,
                                  f.pixelFormat);
        g_state.scaler.SetHysteresis(10, 10);
        // A buffer still held (no Free since the last format) is released, not lost.
        ReleaseLineBuffer();
        if (check.usable)
            g_state.lineBuffer = static_cast<uint8_t*>(
                AlignedAlloc(static_cast<size_t>(f.width) * static_cast<size_t>(f.bytesPerPixel)));
        return 1;
    });
}

int32_t KVX_CDECL ProcessFrameCallback(FrameInfo* frame) {
    return Guarded(0, [&] { return frame ? ProcessFrame(g_state, *frame) : 0; });
}

void KVX_CDECL Free() {
    Guarded([] { ReleaseLineBuffer(); });
}

void KVX_CDECL ShowSettings(HostWindow* hostWindow) {
    Guarded([&] { ShowSettingsDialog(g_state.store, hostWindow ? *hostWindow : nullptr); });
}

void KVX_CDECL Deinit() {
    Guarded([] {
        CloseSettingsDialog();
        g_state.store.Save();
    });
}

PluginDescriptor g_descriptor = {kPluginName, kPluginName, Init, FormatChange,
                                 ProcessFrameCallback, Free, ShowSettings, Deinit};

}  // namespace
}  // namespace kvx

KVX_EXPORT int32_t KVX_CDECL Korvanta_Plugin_Version() { return kPluginInterfaceVersion; }

KVX_EXPORT PluginDescriptor* KVX_CDECL Korvanta_Plugin_PR() { return &kvx::g_descriptor; }
