#include "host/plugin_library.h"

#include <string>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {

#if defined(_WIN32)

PluginLibrary::PluginLibrary(const std::filesystem::path& file) : file_(file) {
    handle_ = reinterpret_cast<void*>(LoadLibraryW(file.c_str()));
    if (!handle_) {
        throw AvisynthError("LoadPlugin: cannot load \"" + file.string() + "\" (Windows error " +
                            std::to_string(GetLastError()) + ")");
    }
}

PluginLibrary::~PluginLibrary() { FreeLibrary(reinterpret_cast<HMODULE>(handle_)); }

PluginLibrary::EntryPoint PluginLibrary::FindEntryPoint() const {
    const auto module = reinterpret_cast<HMODULE>(handle_);
    // A 32-bit __stdcall export may carry its decorated name: MSVC's form, or MinGW's
    // without the leading underscore.
    for (const char* name : {"AvisynthPluginInit2", "_AvisynthPluginInit2@4", "AvisynthPluginInit2@4"}) {
        // void(*)() converts to and from any function pointer type without complaint.
        if (const auto symbol = reinterpret_cast<void (*)()>(GetProcAddress(module, name))) {
            return reinterpret_cast<EntryPoint>(symbol);
        }
    }
    return nullptr;
}

#else

PluginLibrary::PluginLibrary(const std::filesystem::path& file) : file_(file) {
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        throw AvisynthError("LoadPlugin: cannot load \"" + file.string() + "\" (" +
                            (reason ? reason : "unknown reason") + ")");
    }
}

PluginLibrary::~PluginLibrary() { dlclose(handle_); }

PluginLibrary::EntryPoint PluginLibrary::FindEntryPoint() const {
    return reinterpret_cast<EntryPoint>(dlsym(handle_, "AvisynthPluginInit2"));
}

#endif

}  // namespace host
