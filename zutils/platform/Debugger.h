// Platform layer: debugger presence.
#pragma once

namespace ZUtils {
namespace platform {

// True while a debugger (or tracer) is attached to this process.
bool debuggerAttached();

}  // namespace platform
}  // namespace ZUtils
