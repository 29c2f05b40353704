// A plugin's dynamic library, loaded for as long as this object lives.
#pragma once

#include <filesystem>

#include "plugin/host_interface.h"

namespace host {

class PluginLibrary {
public:
#if defined(_WIN32)
    using EntryPoint = const char*(__stdcall*)(IScriptEnvironment*);
#else
    using EntryPoint = const char* (*)(IScriptEnvironment*);
#endif

    // Loads the library; throws AvisynthError naming the file and the loader's reason.
    explicit PluginLibrary(const std::filesystem::path& file);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The exported AvisynthPluginInit2 (on 32-bit Windows also under its decorated
    // names), or null when the library has none.
    EntryPoint FindEntryPoint() const;

    const std::filesystem::path& File() const { return file_; }
    // The loader's handle: the same library loaded twice gives the same handle.
    void* Handle() const { return handle_; }

private:
    std::filesystem::path file_;
    void* handle_ = nullptr;
};

}  // namespace host
