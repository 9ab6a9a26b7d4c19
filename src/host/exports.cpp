// The two exported functions, the callback table and the callbacks themselves.
//
// Calls a host should not make get one defined, safe answer each (tests/abi/hostile_host_test.cpp):
//   Init(null)                  settings load with no reserved value and no channel check
//                               (every channel profile is then kept at save).
//   Init again                  the settings file is read afresh.
//   FormatChange(null)          ignored, returns 1; the previous format stays in force.
//   FormatChange, unusable      (width, height or bytesPerPixel <= 0, a side > 32767,
//                               bytesPerPixel > 16): returns 1, kept but never used: frames
//                               are left untouched until a usable format arrives.
//   FormatChange, bytesPerPixel below 2 for format 0 / 3 for format 1, or another format:
//                               only the line blend (sized by bytesPerPixel) touches frames.
//   FormatChange, bytesPerPixel above the format's pixel size: scaled and filled as the
//                               format's rows (2 or 3 bytes a pixel, each row after the
//                               last), inside the larger frame the host announced.
//   FormatChange without Free   the line buffer still held is released first.
//   ProcessFrame(null), or a FrameInfo without pixels: returns 0, nothing else happens.
//   ProcessFrame before Init    the built-in defaults apply (processing off).
//   ProcessFrame before the first usable FormatChange: the channel step only; returns 1.
//   ProcessFrame after Free     processed with the remembered format; the line blend fetches
//                               a new line buffer (Free released the old one, never reused).
//   ProcessFrame after Deinit   as before it: Deinit saves, it frees nothing.
//   A null channel record       no channel step: the shown channel and its settings stay.
//   A channel name without NUL  at most kChannelNameMax - 1 (255) bytes are read.
//   A buffer cannot be had      (line buffer or the scaler's): the frame is left as it came,
//                               borders included; with the blend on and only the scaler's
//                               buffers missing, the frame is blended but not scaled.
//   Free twice, Free first      nothing to release: no-op.
//   ShowSettings(null), or a pointer to something that is no window: the dialog opens
//                               without an owner (natively there is no dialog at all).
//   Deinit twice                saves again; the file is rewritten only if its text changed.
//   Deinit before Init          nothing is saved: no settings path is known yet.
//   KVX_LiveFitState(null), or a record shorter than its counter: returns 0.
//   Unload without Deinit       nothing is saved; an open dialog, its hook and the line
//                               buffer are released with the library.
//   Anything thrown             caught in the callback (Guarded): the fallback result.
#include <cstring>

#include "host/abi.h"
#include "host/callback_guard.h"
#include "host/plugin_state.h"
#include "platform/module.h"
#include "ui/dialog_host.h"

namespace kvx {
namespace {

PluginState g_state;

// "Масштабирование кадра" in code page 1251, as byte escapes so no source encoding can alter it.
const char kPluginName[] =
    "\xCC\xE0\xF1\xF8\xF2\xE0\xE1\xE8\xF0\xEE\xE2\xE0\xED\xE8\xE5\x20\xEA\xE0\xE4\xF0\xE0";
static_assert(sizeof(kPluginName) == 22, "21 characters and the terminator");

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
        g_state.surface.Configure(check.usable ? f.width : 0, check.usable ? f.height : 0,
                                  f.pixelFormat);
        g_state.scaler.SetHysteresis(10, 10);
        // A buffer still held (no Free since the last format) is released, not lost.
        g_state.ReleaseLineBuffer();
        g_state.EnsureLineBuffer();
        g_state.liveFit.Configure(check.pixelWork ? f.width : 0, check.pixelWork ? f.height : 0, f.pixelFormat);
        return 1;
    });
}

int32_t KVX_CDECL ProcessFrameCallback(FrameInfo* frame) {
    return Guarded(0, [&] { return frame ? ProcessFrame(g_state, *frame) : 0; });
}

void KVX_CDECL Free() {
    Guarded([] { g_state.ReleaseLineBuffer(); });
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

// For kvx-host's fit log; the TV application never looks it up. A tool polls it after each
// frame instead of being called back: nothing of the host's reaches into the frame path.
KVX_EXPORT int32_t KVX_CDECL KVX_LiveFitState(LiveFitState* state) {
    return kvx::Guarded(0, [&] {
        if (!state || state->size < 2 * sizeof(uint32_t)) return 0;
        const LiveFitState& now = kvx::g_state.liveFit.State();
        const size_t known = state->size < sizeof now ? state->size : sizeof now;
        std::memcpy(reinterpret_cast<char*>(state) + sizeof state->size,
                    reinterpret_cast<const char*>(&now) + sizeof now.size, known - sizeof now.size);
        return 1;
    });
}
