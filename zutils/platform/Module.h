// Platform layer: loading plug-in modules at run time.
#pragma once

namespace ZUtils {
namespace platform {

// Loads a shared module (all symbols resolved now, none exported to later modules).
// Null when it cannot be loaded; nothing is reported (plug-ins are optional).
void* loadModule(const char* path);

// Address of an exported symbol, or null (also for a null module or name).
void* findModuleSymbol(void* module, const char* name);

// Releases a module from loadModule; null is ignored.
void freeModule(void* module);

// File extension of loadable modules on this platform, dot included (".so").
const char* moduleFileExtension();

}  // namespace platform
}  // namespace ZUtils
