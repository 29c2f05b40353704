// The in-house frame server: loads plugin libraries, keeps their functions, binds
// script-call arguments, allocates frames and raises script errors.
#pragma once

#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/signature.h"
#include "plugin/host_interface.h"

namespace host {

class PluginLibrary;

// A registered script function as the host keeps it.
struct FunctionInfo {
    std::string name;
    std::string signature;
    ApplyFunc apply;
    void* user_data;
};

// Every member may be called from several threads at once.
class Environment : public IScriptEnvironment {
public:
    Environment();
    ~Environment() override;
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // Loads a plugin library, calls its entry point and returns the description it
    // gives. A library already loaded here is not initialised twice. Throws
    // AvisynthError naming the file when it cannot be loaded or has no entry point.
    std::string LoadPlugin(const std::filesystem::path& library);

    // Calls a registered function with positional and named arguments, bound to its
    // signature and handed over in signature order. Errors of binding and of the
    // function itself arrive as AvisynthError. A clip that comes from a plugin keeps
    // that plugin's library loaded while it lives.
    AVSValue Invoke(std::string_view function, const std::vector<Argument>& args);

    // Registered functions, in registration order.
    std::vector<FunctionInfo> Functions() const;
    std::optional<FunctionInfo> FindFunction(std::string_view name) const;

    // Frames allocated by this environment and not yet deleted.
    long LiveFrames() const { return live_frames_->load(); }

    [[noreturn]] HOST_PRINTF_FORMAT void ThrowError(const char* fmt, ...) override;
    // A function registered under a name already known replaces it.
    void AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) override;
    // Interleaved formats only (RGB32, RGB24, YUY2); `align` a power of two.
    PVideoFrame NewVideoFrame(const VideoInfo& vi, int align = 16) override;
    const char* SaveString(const char* s, int len = -1) override;

private:
    struct Entry {
        FunctionInfo info;
        std::vector<Parameter> params;
        std::shared_ptr<PluginLibrary> library;  // null for functions the host adds itself
    };
    struct Loaded {
        std::shared_ptr<PluginLibrary> library;
        std::string description;
    };

    std::mutex load_mutex_;  // one entry point at a time
    mutable std::mutex mutex_;
    std::vector<Entry> functions_;
    std::vector<Loaded> libraries_;
    std::shared_ptr<PluginLibrary> loading_;  // the library whose entry point is running
    std::deque<std::string> strings_;
    std::shared_ptr<std::atomic<long>> live_frames_;
};

}  // namespace host
