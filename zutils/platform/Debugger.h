// Platform layer: debugger presence.
#pragma once

namespace ZUtils {
namespace platform {

// True while a debugger (or tracer) is attached to this process.
bool debuggerAttached();

// Hands text to an attached debugger: its output window on Windows (OutputDebugStringA),
// standard error elsewhere (the debugger's console). Callers check debuggerAttached().
void debuggerOutput(const char* text);

}  // namespace platform
}  // namespace ZUtils
