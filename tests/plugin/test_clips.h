// Clips, frames and an environment that record what the keying filter does with
// them, and the pixel helpers the filter's tests share.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/environment.h"
#include "host/source_clip.h"
#include "keying/keying.h"
#include "plugin/host_interface.h"

namespace testclips {

inline const std::array<std::string, 6> kRoles = {"red1", "red2", "red3", "green1", "green2", "green3"};

// Thread-safe record of events in the order they happened.
class EventLog {
public:
    void Add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> events_;
};

// A frame with its own zeroed buffer, laid out as the host lays out RGB32 rows with
// alignment 16; logs "<name> frame released" when deleted.
class LogFrame final : public VideoFrame {
public:
    LogFrame(std::string name, std::shared_ptr<EventLog> log, const VideoInfo& vi)
        : LogFrame(std::move(name), std::move(log), vi, (vi.RowSize() + 15) / 16 * 16) {}

private:
    LogFrame(std::string name, std::shared_ptr<EventLog> log, const VideoInfo& vi, int pitch)
        : VideoFrame(new std::uint8_t[static_cast<std::size_t>(pitch) * vi.height](), pitch, vi.RowSize(), vi.height),
          name_(std::move(name)), log_(std::move(log)) {}
    ~LogFrame() override {
        delete[] GetWritePtr();
        log_->Add(name_ + " frame released");
    }

    std::string name_;
    std::shared_ptr<EventLog> log_;
};

// A clip that logs every request ("red1 get 7") and its own destruction ("red1 destroyed"),
// and answers parity and audio with values of its own so they can be told apart.
class SpyClip final : public IClip {
public:
    SpyClip(std::string name, const VideoInfo& vi, std::shared_ptr<EventLog> log, std::uint8_t audioByte = 0)
        : name_(std::move(name)), vi_(vi), log_(std::move(log)), audio_byte_(audioByte) {}
    ~SpyClip() override { log_->Add(name_ + " destroyed"); }

    PVideoFrame GetFrame(int n, IScriptEnvironment*) override {
        log_->Add(name_ + " get " + std::to_string(n));
        return new LogFrame(name_, log_, vi_);
    }
    // Parity alternates with n, shifted by the audio byte, so clips disagree.
    bool GetParity(int n) override { return ((n + audio_byte_) & 1) != 0; }
    void GetAudio(void* buf, std::int64_t start, std::int64_t count, IScriptEnvironment*) override {
        log_->Add(name_ + " audio " + std::to_string(start) + " " + std::to_string(count));
        std::memset(buf, audio_byte_, static_cast<std::size_t>(count));
    }
    void SetCacheHints(int, int) override {}
    const VideoInfo& GetVideoInfo() override {
        ++info_calls;
        return vi_;
    }

    std::atomic<int> info_calls{0};

private:
    std::string name_;
    VideoInfo vi_;
    std::shared_ptr<EventLog> log_;
    std::uint8_t audio_byte_;
};

// The real host, with every frame allocation logged as "alloc".
class SpyEnvironment : public host::Environment {
public:
    explicit SpyEnvironment(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    PVideoFrame NewVideoFrame(const VideoInfo& vi, int align = 16) override {
        log_->Add("alloc align " + std::to_string(align));
        return host::Environment::NewVideoFrame(vi, align);
    }

private:
    std::shared_ptr<EventLog> log_;
};

inline VideoInfo Rgb32(int width, int height, int frames = 1) {
    return host::MakeVideoInfo(VideoInfo::CS_BGR32, width, height, frames);
}

using Pixels = std::vector<std::uint8_t>;

inline Pixels RandomPixels(std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Pixels p(bytes);
    for (auto& b : p) b = static_cast<std::uint8_t>(byte(rng));
    return p;
}

// Frames of random pixels, different for each seed and frame.
inline std::vector<Pixels> RandomFrames(const VideoInfo& vi, int frames, unsigned seed) {
    std::vector<Pixels> out;
    for (int i = 0; i < frames; ++i) {
        out.push_back(RandomPixels(static_cast<std::size_t>(vi.RowSize()) * vi.height, seed * 1000 + i));
    }
    return out;
}

// What the keying core makes of six packed frames, in role order.
inline Pixels Keyed(const std::array<const Pixels*, 6>& in) {
    Pixels out(in[0]->size());
    keying::KeyingPass(in[0]->data(), in[1]->data(), in[2]->data(), in[3]->data(), in[4]->data(), in[5]->data(),
                       out.data(), out.size());
    return out;
}

// The pixels of a frame, rows packed, padding left out.
inline Pixels Visible(const PVideoFrame& f) {
    Pixels out;
    for (int y = 0; y < f->GetHeight(); ++y) {
        const std::uint8_t* row = f->GetReadPtr() + static_cast<std::ptrdiff_t>(y) * f->GetPitch();
        out.insert(out.end(), row, row + f->GetRowSize());
    }
    return out;
}

}  // namespace testclips
