// Clips that make frames rather than transform them: the base of every source,
// and a source whose frames are held in memory.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/host_interface.h"

namespace host {

// A clip description with the fields a source needs; no audio.
VideoInfo MakeVideoInfo(int pixel_type, int width, int height, int num_frames, unsigned fps_numerator = 25,
                        unsigned fps_denominator = 1);

// Base of source clips. A request for frame n is clamped to [0, num_frames - 1], so a
// request past the end answers with the last frame; the frame comes from
// env->NewVideoFrame(vi, align) and Fill writes its pixels. Requests may arrive from
// several threads at once: Fill must allow that. Audio is silence, parity false.
class SourceClip : public IClip {
public:
    explicit SourceClip(const VideoInfo& vi, int align = 16) : vi(vi), align(align) {}

    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override;
    bool GetParity(int) override { return false; }
    void GetAudio(void* buf, std::int64_t start, std::int64_t count, IScriptEnvironment* env) override;
    void SetCacheHints(int, int) override {}
    const VideoInfo& GetVideoInfo() override { return vi; }

protected:
    // Writes frame n (already clamped) into dst: vi.height rows, `pitch` bytes apart.
    virtual void Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment* env) = 0;

    VideoInfo vi;
    int align;
};

// A source whose frames are given up front, each as vi.height packed rows of
// vi.RowSize() bytes. vi.num_frames becomes the number of frames given.
class MemoryClip : public SourceClip {
public:
    // Throws AvisynthError when no frame is given, the format is not interleaved,
    // or a frame's size does not match the description.
    MemoryClip(const VideoInfo& vi, std::vector<std::vector<std::uint8_t>> frames, int align = 16);

protected:
    void Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment* env) override;

private:
    std::vector<std::vector<std::uint8_t>> frames_;
};

}  // namespace host
