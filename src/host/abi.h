// The records and functions that cross the host boundary. On 32-bit Windows they are the
// host's exact layouts (checked below); natively they take their natural C layout.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/callconv.h"

extern "C" {

typedef int32_t(KVX_CDECL* ChannelCheckProc)(uint32_t keyLow, uint32_t keyHigh);

struct InitInfo {
    uint32_t reserved;  // kept by the settings store, never read again
    ChannelCheckProc channelCheck;
};

struct VideoFormat {
    int32_t width;          // pixels
    int32_t height;         // lines, both fields
    int32_t bytesPerPixel;  // sizes the line buffer and the blended lines
    int32_t pixelFormat;    // 0 = YUY2 top-down, 1 = BGR24 bottom-up
    int32_t reserved;
};

struct ChannelInfo {
    uint32_t keyLow;
    uint32_t keyHigh;
    uint8_t unused[4];
    char name[1];  // NUL-terminated text stored inline; the record is as long as its name
};

struct FrameInfo {
    uint8_t* pixels;  // null: the frame carries no picture
    uint8_t unused[40];
    ChannelInfo* channel;
};

typedef void* HostWindow;  // an HWND on Windows

struct PluginDescriptor {
    const char* name;   // CP1251 "Масштабирование кадра"
    const char* name2;  // the same text
    void(KVX_CDECL* Init)(InitInfo* info);
    int32_t(KVX_CDECL* FormatChange)(VideoFormat* format);
    int32_t(KVX_CDECL* ProcessFrame)(FrameInfo* frame);
    void(KVX_CDECL* Free)();
    void(KVX_CDECL* ShowSettings)(HostWindow* hostWindow);
    void(KVX_CDECL* Deinit)();
};

typedef int32_t(KVX_CDECL* PluginVersionProc)();
typedef PluginDescriptor*(KVX_CDECL* PluginDescriptorProc)();

// What the live fit does, for kvx-host through the optional export KVX_LiveFitState (the TV
// application knows nothing of it): the geometry in force and why it last changed.
struct LiveFitState {
    uint32_t size;     // set by the caller: the bytes of the record it knows
    uint32_t changes;  // changes of the geometry in force since the plug-in was loaded
    int32_t active;    // 1: a fit is in force; 0: the profile's own zoom and offsets
    int32_t reason;    // LiveFitReason of the last change
    int32_t left, top, right, bottom;          // the part of the frame shown, rows from the top
    int32_t scaleX, scaleY, offsetX, offsetY;  // the geometry in force, in thousandths
};

enum LiveFitReason {
    kFitNoChange = 0,
    kFitBarsHeld = 1,     // black bars held for 2 s: zoomed in to the picture
    kFitPictureInBar = 2, // picture where a bar was: zoomed out
    kFitTextInBar = 3,    // text or a logo appeared in a bar: that bar is shown
    kFitChannel = 4,      // another channel: its last fit of this session, or none
    kFitSettings = 5,     // KeepAspect or Interlace changed: the fit worked out again, or ended
    kFitOff = 6,          // auto-fit or processing switched off, or a new frame size
};

// Fills `state` (its `size` set first); 0 when `state` is null or too small for the counter.
typedef int32_t(KVX_CDECL* LiveFitStateProc)(LiveFitState* state);

}  // extern "C"

constexpr int32_t kPluginInterfaceVersion = 3;

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's 32-bit layouts.
static_assert(sizeof(PluginDescriptor) == 32, "descriptor: eight 32-bit pointers");
static_assert(offsetof(PluginDescriptor, name) == 0 && offsetof(PluginDescriptor, name2) == 4 &&
                  offsetof(PluginDescriptor, Init) == 8 &&
                  offsetof(PluginDescriptor, FormatChange) == 12 &&
                  offsetof(PluginDescriptor, ProcessFrame) == 16 &&
                  offsetof(PluginDescriptor, Free) == 20 &&
                  offsetof(PluginDescriptor, ShowSettings) == 24 &&
                  offsetof(PluginDescriptor, Deinit) == 28,
              "descriptor slots");
static_assert(sizeof(InitInfo) == 8 && offsetof(InitInfo, reserved) == 0 &&
                  offsetof(InitInfo, channelCheck) == 4,
              "InitInfo layout");
static_assert(sizeof(VideoFormat) == 20 && offsetof(VideoFormat, width) == 0 &&
                  offsetof(VideoFormat, height) == 4 && offsetof(VideoFormat, bytesPerPixel) == 8 &&
                  offsetof(VideoFormat, pixelFormat) == 12 && offsetof(VideoFormat, reserved) == 16,
              "VideoFormat layout");
static_assert(sizeof(FrameInfo) == 48 && offsetof(FrameInfo, pixels) == 0 &&
                  offsetof(FrameInfo, unused) == 4 && offsetof(FrameInfo, channel) == 44,
              "FrameInfo layout");
static_assert(offsetof(ChannelInfo, keyLow) == 0 && offsetof(ChannelInfo, keyHigh) == 4 &&
                  offsetof(ChannelInfo, name) == 12,
              "ChannelInfo layout");
static_assert(sizeof(LiveFitState) == 48, "LiveFitState: twelve 32-bit fields");
#else
static_assert(offsetof(FrameInfo, channel) == 48, "natural 64-bit FrameInfo");
static_assert(offsetof(InitInfo, channelCheck) == 8, "natural 64-bit InitInfo");
#endif
