// Calling-convention and export markers for functions that cross the host boundary.
#pragma once

#if defined(_WIN32)
#define KVX_CDECL __cdecl
#define KVX_EXPORT extern "C" __declspec(dllexport)
#else
#define KVX_CDECL
#define KVX_EXPORT extern "C" __attribute__((visibility("default")))
#endif
