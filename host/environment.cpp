#include "host/environment.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/plugin_library.h"

namespace host {
namespace {

// A frame buffer owned by the host, freed by the host's own destructor wherever
// its last handle is dropped.
class HostFrame final : public VideoFrame {
public:
    HostFrame(std::size_t bytes, std::size_t alignment, int pitch, int row_size, int height,
              std::shared_ptr<std::atomic<long>> live)
        : VideoFrame(Allocate(bytes, alignment), pitch, row_size, height), alignment_(alignment),
          live_(std::move(live)) {
        ++*live_;
    }

private:
    ~HostFrame() override {
        ::operator delete[](GetWritePtr(), std::align_val_t(alignment_));
        --*live_;
    }

    static std::uint8_t* Allocate(std::size_t bytes, std::size_t alignment) {
        auto* p = static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t(alignment)));
        std::memset(p, 0, bytes);  // padding reads as zero, not as leftovers
        return p;
    }

    std::size_t alignment_;
    std::shared_ptr<std::atomic<long>> live_;
};

// The clip a plugin's function returned, holding the plugin's library so its code
// stays mapped until the clip (declared after it, so released first) is gone.
class PluginClip final : public IClip {
public:
    PluginClip(std::shared_ptr<PluginLibrary> library, PClip clip)
        : library_(std::move(library)), clip_(std::move(clip)) {}

    int GetVersion() override { return clip_->GetVersion(); }
    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override { return clip_->GetFrame(n, env); }
    bool GetParity(int n) override { return clip_->GetParity(n); }
    void GetAudio(void* buf, std::int64_t start, std::int64_t count, IScriptEnvironment* env) override {
        clip_->GetAudio(buf, start, count, env);
    }
    void SetCacheHints(int cachehints, int frame_range) override { clip_->SetCacheHints(cachehints, frame_range); }
    const VideoInfo& GetVideoInfo() override { return clip_->GetVideoInfo(); }

private:
    std::shared_ptr<PluginLibrary> library_;
    PClip clip_;
};

}  // namespace

Environment::Environment() : live_frames_(std::make_shared<std::atomic<long>>(0)) {}

Environment::~Environment() = default;

std::string Environment::LoadPlugin(const std::filesystem::path& file) {
    std::lock_guard load(load_mutex_);
    auto library = std::make_shared<PluginLibrary>(file);
    {
        std::lock_guard lock(mutex_);
        for (const Loaded& l : libraries_) {
            if (l.library->Handle() == library->Handle()) return l.description;
        }
    }
    const PluginLibrary::EntryPoint init = library->FindEntryPoint();
    if (!init) ThrowError("LoadPlugin: \"%s\" has no AvisynthPluginInit2 entry point", file.string().c_str());

    {
        std::lock_guard lock(mutex_);
        loading_ = library;
    }
    struct Done {
        Environment& env;
        ~Done() {
            std::lock_guard lock(env.mutex_);
            env.loading_.reset();
        }
    } done{*this};
    const char* description = init(this);
    std::string text = description ? description : "";
    std::lock_guard lock(mutex_);
    libraries_.push_back({library, text});
    return text;
}

void Environment::AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) {
    if (!name || !*name) ThrowError("AddFunction: a function needs a name");
    if (!apply) ThrowError("AddFunction: %s has no function to call", name);
    Entry entry{{name, params ? params : "", apply, user_data}, {}, nullptr};
    entry.params = ParseSignature(name, entry.info.signature);

    std::lock_guard lock(mutex_);
    entry.library = loading_;
    const auto it = std::find_if(functions_.begin(), functions_.end(),
                                 [&](const Entry& e) { return e.info.name == entry.info.name; });
    if (it != functions_.end()) {
        *it = std::move(entry);
    } else {
        functions_.push_back(std::move(entry));
    }
}

AVSValue Environment::Invoke(std::string_view function, const std::vector<Argument>& args) {
    Entry entry;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(functions_.begin(), functions_.end(),
                                     [&](const Entry& e) { return e.info.name == function; });
        if (it == functions_.end()) {
            throw AvisynthError("Invoke: there is no function named \"" + std::string(function) + "\"");
        }
        entry = *it;
    }
    std::vector<AVSValue> bound = BindArguments(function, entry.params, args);
    for (AVSValue& v : bound) {
        if (v.IsString()) v = AVSValue(SaveString(v.AsString()));  // outlives the caller's buffer
    }
    const AVSValue packed(bound.data(), static_cast<int>(bound.size()));
    AVSValue result = entry.info.apply(packed, entry.info.user_data, this);
    if (entry.library && result.IsClip()) return AVSValue(new PluginClip(entry.library, result.AsClip()));
    return result;
}

std::vector<FunctionInfo> Environment::Functions() const {
    std::lock_guard lock(mutex_);
    std::vector<FunctionInfo> out;
    out.reserve(functions_.size());
    for (const Entry& e : functions_) out.push_back(e.info);
    return out;
}

std::optional<FunctionInfo> Environment::FindFunction(std::string_view name) const {
    std::lock_guard lock(mutex_);
    for (const Entry& e : functions_) {
        if (e.info.name == name) return e.info;
    }
    return std::nullopt;
}

void Environment::ThrowError(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string message(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(message.data(), message.size() + 1, fmt, again);
    va_end(again);
    throw AvisynthError(message);
}

PVideoFrame Environment::NewVideoFrame(const VideoInfo& vi, int align) {
    if (align < 1 || (align & (align - 1)) != 0) ThrowError("NewVideoFrame: alignment %d is not a power of two", align);
    const int bpp = vi.BytesPerPixel();
    if (bpp == 0) ThrowError("NewVideoFrame: pixel type 0x%08X is not an interleaved format", static_cast<unsigned>(vi.pixel_type));
    if (vi.width <= 0 || vi.height <= 0) ThrowError("NewVideoFrame: cannot make a %dx%d frame", vi.width, vi.height);

    const std::int64_t rowSize = static_cast<std::int64_t>(vi.width) * bpp;
    const std::int64_t pitch = (rowSize + align - 1) / align * align;
    const std::int64_t bytes = pitch * vi.height;
    if (pitch > 0x7fffffff || bytes > 0x7fffffff) ThrowError("NewVideoFrame: a %dx%d frame is too large", vi.width, vi.height);

    const std::size_t alignment = std::max<std::size_t>(static_cast<std::size_t>(align), 16);
    PVideoFrame frame;
    try {
        frame = new HostFrame(static_cast<std::size_t>(bytes), alignment, static_cast<int>(pitch),
                              static_cast<int>(rowSize), vi.height, live_frames_);
    } catch (const std::bad_alloc&) {
        ThrowError("NewVideoFrame: out of memory for a %dx%d frame", vi.width, vi.height);
    }
    return frame;
}

const char* Environment::SaveString(const char* s, int len) {
    if (!s) return nullptr;
    const std::size_t n = len < 0 ? std::strlen(s) : static_cast<std::size_t>(len);
    std::lock_guard lock(mutex_);
    return strings_.emplace_back(s, n).c_str();
}

}  // namespace host
