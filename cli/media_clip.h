// A decoded file as a host source clip: RGB32 frames of the file's size, count and rate.
#pragma once

#include <memory>
#include <string>

#include "cli/media/media.h"
#include "host/source_clip.h"

namespace nolukey {

class MediaClip : public host::SourceClip {
public:
    explicit MediaClip(std::unique_ptr<media::Source> source);
    const media::Source& Source() const { return *source_; }

protected:
    void Fill(int n, std::uint8_t* dst, int pitch, IScriptEnvironment* env) override;

private:
    std::unique_ptr<media::Source> source_;
};

}  // namespace nolukey
