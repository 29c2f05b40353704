// The frame server's object interfaces, as the plugin and the in-house host share them:
// clip and frame objects behind counted handles, the clip description, script values,
// and the environment through which a plugin registers functions, allocates frames
// and reports errors.
//
// Objects cross library boundaries: whatever a module creates is deleted through its
// own virtual destructor, so each object goes back to the allocator that made it even
// when the last handle is dropped in another module.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "plugin/interlocked.h"

// The interface version this header describes, reported by IClip::GetVersion.
constexpr int AVISYNTH_INTERFACE_VERSION = 3;

// The script error. what() is the whole message, which begins with the name of
// the function that raised it and a colon.
class AvisynthError : public std::runtime_error {
public:
    explicit AvisynthError(const std::string& message) : std::runtime_error(message) {}
};

// Clip description: frame size and rate, colour space, and audio format.
struct VideoInfo {
    // Colour-space bits of pixel_type.
    static constexpr int CS_BGR = 1 << 28;
    static constexpr int CS_YUV = 1 << 29;
    static constexpr int CS_INTERLEAVED = 1 << 30;
    static constexpr int CS_PLANAR = static_cast<int>(1u << 31);

    static constexpr int CS_UNKNOWN = 0;
    static constexpr int CS_BGR24 = (1 << 0) | CS_BGR | CS_INTERLEAVED;  // 0x50000001
    static constexpr int CS_BGR32 = (1 << 1) | CS_BGR | CS_INTERLEAVED;  // 0x50000002
    static constexpr int CS_YUY2 = (1 << 2) | CS_YUV | CS_INTERLEAVED;   // 0x60000004
    static constexpr int CS_YV12 = (1 << 3) | CS_YUV | CS_PLANAR;        // 0xA0000008

    // Audio sample formats (sample_type).
    static constexpr int SAMPLE_INT8 = 1 << 0;
    static constexpr int SAMPLE_INT16 = 1 << 1;
    static constexpr int SAMPLE_INT24 = 1 << 2;
    static constexpr int SAMPLE_INT32 = 1 << 3;
    static constexpr int SAMPLE_FLOAT = 1 << 4;

    int width = 0;
    int height = 0;
    unsigned fps_numerator = 0;
    unsigned fps_denominator = 1;
    int num_frames = 0;
    int pixel_type = CS_UNKNOWN;
    int audio_samples_per_second = 0;
    int sample_type = 0;
    std::int64_t num_audio_samples = 0;
    int nchannels = 0;
    int image_type = 0;

    bool Is(int cs) const { return (pixel_type & cs) == cs; }
    bool IsRGB32() const { return Is(CS_BGR32); }
    bool IsRGB24() const { return Is(CS_BGR24); }
    bool IsYUY2() const { return Is(CS_YUY2); }
    bool IsYV12() const { return Is(CS_YV12); }
    bool IsPlanar() const { return (pixel_type & CS_PLANAR) != 0; }
    bool HasVideo() const { return width > 0 && height > 0 && pixel_type != CS_UNKNOWN; }
    bool HasAudio() const { return audio_samples_per_second != 0 && nchannels > 0; }

    // Bytes per pixel of an interleaved format, 0 for planar or unknown ones.
    int BytesPerPixel() const {
        if (IsRGB32()) return 4;
        if (IsRGB24()) return 3;
        if (IsYUY2()) return 2;
        return 0;
    }
    // Bytes of pixels in one row of an interleaved frame.
    int RowSize() const { return width * BytesPerPixel(); }

    int BytesPerChannelSample() const {
        switch (sample_type) {
            case SAMPLE_INT8: return 1;
            case SAMPLE_INT16: return 2;
            case SAMPLE_INT24: return 3;
            case SAMPLE_INT32:
            case SAMPLE_FLOAT: return 4;
            default: return 0;
        }
    }
    int BytesPerAudioSample() const { return nchannels * BytesPerChannelSample(); }

    friend bool operator==(const VideoInfo&, const VideoInfo&) = default;
};

// Counted handle to a host object (IClip or VideoFrame). The object deletes itself,
// through its own virtual destructor, when the last handle goes.
template <class T>
class CountedRef {
public:
    CountedRef() = default;
    CountedRef(T* p) : p_(p) { Acquire(); }  // implicit, so `return new Clip(...)` reads naturally
    CountedRef(const CountedRef& other) : p_(other.p_) { Acquire(); }
    CountedRef(CountedRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    CountedRef& operator=(const CountedRef& other) {
        CountedRef(other).swap(*this);
        return *this;
    }
    CountedRef& operator=(CountedRef&& other) noexcept {
        CountedRef(std::move(other)).swap(*this);
        return *this;
    }
    ~CountedRef() {
        if (p_) p_->Release();
    }

    void swap(CountedRef& other) noexcept { std::swap(p_, other.p_); }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    T* get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    friend bool operator==(const CountedRef& a, const CountedRef& b) { return a.p_ == b.p_; }

private:
    void Acquire() {
        if (p_) p_->AddRef();
    }
    T* p_ = nullptr;
};

class IClip;
class VideoFrame;
class IScriptEnvironment;
using PClip = CountedRef<IClip>;
using PVideoFrame = CountedRef<VideoFrame>;

// One frame: `height` rows of `pitch` bytes at the frame's pointer, each row
// holding `row_size` bytes of pixels. Made by the host (IScriptEnvironment::NewVideoFrame),
// which derives from this to own the buffer.
class VideoFrame {
public:
    VideoFrame(const VideoFrame&) = delete;
    VideoFrame& operator=(const VideoFrame&) = delete;

    int GetPitch() const { return pitch_; }
    int GetRowSize() const { return row_size_; }
    int GetHeight() const { return height_; }
    const std::uint8_t* GetReadPtr() const { return data_; }
    std::uint8_t* GetWritePtr() const { return data_; }

protected:
    VideoFrame(std::uint8_t* data, int pitch, int row_size, int height)
        : data_(data), pitch_(pitch), row_size_(row_size), height_(height) {}
    // Only the last handle deletes a frame, and it does so through this destructor,
    // which belongs to the module that made the frame.
    virtual ~VideoFrame() = default;

private:
    friend class CountedRef<VideoFrame>;
    void AddRef() { interlocked::Increment(&refcount_); }
    void Release() {
        if (interlocked::Decrement(&refcount_) == 0) delete this;
    }

    interlocked::Count refcount_ = 0;
    std::uint8_t* data_;
    int pitch_;
    int row_size_;
    int height_;
};

// A clip: the object a script function returns and the host asks for frames,
// audio and parity. The virtual operations keep this slot order.
class IClip {
public:
    IClip() = default;
    IClip(const IClip&) = delete;
    IClip& operator=(const IClip&) = delete;

    virtual int GetVersion() { return AVISYNTH_INTERFACE_VERSION; }                       // slot 0
    virtual PVideoFrame GetFrame(int n, IScriptEnvironment* env) = 0;                      // slot 1
    virtual bool GetParity(int n) = 0;                                                     // slot 2
    virtual void GetAudio(void* buf, std::int64_t start, std::int64_t count,
                          IScriptEnvironment* env) = 0;                                    // slot 3
    virtual void SetCacheHints(int cachehints, int frame_range) = 0;                       // slot 4
    virtual const VideoInfo& GetVideoInfo() = 0;                                           // slot 5
    virtual ~IClip() = default;                                                            // slot 6

private:
    friend class CountedRef<IClip>;
    friend class AVSValue;
    void AddRef() { interlocked::Increment(&refcount_); }
    void Release() {
        if (interlocked::Decrement(&refcount_) == 0) delete this;
    }

    interlocked::Count refcount_ = 0;
};

// Base of filters with one input clip: answers everything from `child`, with `vi`
// copied from the child's description at construction.
class GenericVideoFilter : public IClip {
public:
    explicit GenericVideoFilter(const PClip& clip) : child(clip), vi(clip->GetVideoInfo()) {}

    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override { return child->GetFrame(n, env); }
    bool GetParity(int n) override { return child->GetParity(n); }
    void GetAudio(void* buf, std::int64_t start, std::int64_t count, IScriptEnvironment* env) override {
        child->GetAudio(buf, start, count, env);
    }
    void SetCacheHints(int, int) override {}
    const VideoInfo& GetVideoInfo() override { return vi; }

protected:
    PClip child;
    VideoInfo vi;
};

// A script value: a 16-bit type tag, a 16-bit array size and one pointer-sized value.
// Tags: 'v' undefined, 'c' clip, 'b' bool, 'i' int, 'f' float, 's' string, 'a' array.
// A clip value holds a counted reference. String and array values point at storage
// they do not own (strings the host keeps with SaveString, arrays the caller keeps
// alive for the call).
class AVSValue {
public:
    AVSValue() : clip_(nullptr) {}
    AVSValue(IClip* clip) : type_(clip ? 'c' : 'v'), clip_(clip) { AcquireClip(); }
    AVSValue(const PClip& clip) : AVSValue(clip.get()) {}
    AVSValue(bool b) : type_('b'), boolean_(b) {}
    AVSValue(int i) : type_('i'), integer_(i) {}
    AVSValue(float f) : type_('f'), floating_(f) {}
    AVSValue(double f) : type_('f'), floating_(static_cast<float>(f)) {}
    AVSValue(const char* s) : type_(s ? 's' : 'v'), string_(s) {}
    AVSValue(const AVSValue* elements, int size)
        : type_('a'), array_size_(static_cast<std::int16_t>(size)), array_(elements) {}

    AVSValue(const AVSValue& other) { CopyFrom(other); }
    AVSValue& operator=(const AVSValue& other) {
        if (this != &other) {
            ReleaseClip();
            CopyFrom(other);
        }
        return *this;
    }
    ~AVSValue() { ReleaseClip(); }

    char Type() const { return static_cast<char>(type_); }
    bool Defined() const { return type_ != 'v'; }
    bool IsClip() const { return type_ == 'c'; }
    bool IsBool() const { return type_ == 'b'; }
    bool IsInt() const { return type_ == 'i'; }
    bool IsFloat() const { return type_ == 'f' || type_ == 'i'; }  // an int is a float too
    bool IsString() const { return type_ == 's'; }
    bool IsArray() const { return type_ == 'a'; }

    // Each As* gives the value, or the fallback when the value has another type.
    PClip AsClip() const { return IsClip() ? PClip(clip_) : PClip(); }
    bool AsBool(bool fallback = false) const { return IsBool() ? boolean_ : fallback; }
    int AsInt(int fallback = 0) const { return IsInt() ? integer_ : fallback; }
    double AsFloat(double fallback = 0.0) const {
        return type_ == 'f' ? floating_ : type_ == 'i' ? integer_ : fallback;
    }
    const char* AsString(const char* fallback = nullptr) const { return IsString() ? string_ : fallback; }

    int ArraySize() const { return IsArray() ? array_size_ : 1; }
    // Element i of an array that has more than i elements; otherwise the value itself.
    const AVSValue& operator[](int i) const {
        return (IsArray() && i >= 0 && i < array_size_) ? array_[i] : *this;
    }

private:
    void AcquireClip() {
        if (type_ == 'c') clip_->AddRef();
    }
    void ReleaseClip() {
        if (type_ == 'c') clip_->Release();
    }
    void CopyFrom(const AVSValue& other) {
        type_ = other.type_;
        array_size_ = other.array_size_;
        switch (type_) {
            case 'c': clip_ = other.clip_; break;
            case 'b': boolean_ = other.boolean_; break;
            case 'i': integer_ = other.integer_; break;
            case 'f': floating_ = other.floating_; break;
            case 's': string_ = other.string_; break;
            case 'a': array_ = other.array_; break;
            default: clip_ = nullptr; break;
        }
        AcquireClip();
    }

    std::int16_t type_ = 'v';
    std::int16_t array_size_ = 0;
    union {
        IClip* clip_;
        bool boolean_;
        int integer_;
        float floating_;
        const char* string_;
        const AVSValue* array_;
    };
};

#if defined(__GNUC__)
#define HOST_PRINTF_FORMAT [[gnu::format(printf, 2, 3)]]
#else
#define HOST_PRINTF_FORMAT
#endif

// How the host calls a registered function: the arguments bound in signature order
// as one array value, the user data given at registration, and the environment.
using ApplyFunc = AVSValue (*)(AVSValue args, void* user_data, IScriptEnvironment* env);

// What the host offers a plugin.
class IScriptEnvironment {
public:
    virtual ~IScriptEnvironment() = default;

    // Raises the script error (AvisynthError) with the printf-formatted message.
    [[noreturn]] HOST_PRINTF_FORMAT virtual void ThrowError(const char* fmt, ...) = 0;

    // Registers a script function. `params` is the signature: a sequence of
    // parameters, each an optional `[name]` followed by a type letter
    // (c clip, i int, f float, b bool, s string).
    virtual void AddFunction(const char* name, const char* params, ApplyFunc apply, void* user_data) = 0;

    // A new writable frame for the description, its rows starting at addresses
    // aligned to `align` bytes (a power of two), pitch rounded up to it.
    virtual PVideoFrame NewVideoFrame(const VideoInfo& vi, int align = 16) = 0;

    // A copy of the string (len < 0: up to its terminating zero) that lives as long
    // as the environment.
    virtual const char* SaveString(const char* s, int len = -1) = 0;
};
