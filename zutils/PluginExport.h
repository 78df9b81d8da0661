// NEB_PLUGIN_API marks the few internal functions that import plug-in modules call in
// libnebloader: a plug-in fills the library's own frame objects, so it must allocate and
// release channel buffers through the library's code, never through a second copy of it.
// The layers are compiled with hidden visibility; these declarations are the exception,
// and loader/nebloader.map lists them too (the version script has the last word).
#pragma once

#if defined(_WIN32)
#if defined(NEBLOADER_BUILDING)
#define NEB_PLUGIN_API __declspec(dllexport)
#else
#define NEB_PLUGIN_API __declspec(dllimport)
#endif
#else
#define NEB_PLUGIN_API __attribute__((visibility("default")))
#endif
