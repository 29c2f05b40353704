#include "plugin/keying_filter.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "keying/keying.h"

NoluMultiColorKeying::NoluMultiColorKeying(const PClip& red1_, const PClip& red2_, const PClip& red3_,
                                           const PClip& green1_, const PClip& green2_, const PClip& green3_,
                                           IScriptEnvironment* env)
    : GenericVideoFilter(red1_),
      red1(red1_),
      red2(red2_),
      red3(red3_),
      green1(green1_),
      green2(green2_),
      green3(green3_) {
    const std::array<const PClip*, 6> inputs = {&red1, &red2, &red3, &green1, &green2, &green3};
    std::array<const VideoInfo*, 6> infos{};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        infos[i] = &(*inputs[i])->GetVideoInfo();
        if (!infos[i]->IsRGB32()) env->ThrowError("NoluMultiColorKeying: Inputs must be RGB32");
    }
    // The keying pass reads every input at the output's positions, so a smaller input
    // would be read past its end and a larger one would be keyed out of place.
    for (std::size_t i = 1; i < inputs.size(); ++i) {
        const VideoInfo& other = *infos[i];
        if (other.width != vi.width || other.height != vi.height) {
            env->ThrowError("NoluMultiColorKeying: %s is %dx%d, but red1 is %dx%d; all inputs must be the same size",
                            kInputNames[i], other.width, other.height, vi.width, vi.height);
        }
    }
}

PVideoFrame NoluMultiColorKeying::GetFrame(int n, IScriptEnvironment* env) {
    // Declared in role order, so they are released in reverse: green3 first, red1 last.
    const PVideoFrame r1 = red1->GetFrame(n, env);
    const PVideoFrame r2 = red2->GetFrame(n, env);
    const PVideoFrame r3 = red3->GetFrame(n, env);
    const PVideoFrame g1 = green1->GetFrame(n, env);
    const PVideoFrame g2 = green2->GetFrame(n, env);
    const PVideoFrame g3 = green3->GetFrame(n, env);
    PVideoFrame out = env->NewVideoFrame(vi, 16);

    const std::array<const VideoFrame*, 6> in = {r1.get(), r2.get(), r3.get(), g1.get(), g2.get(), g3.get()};
    const int pitch = out->GetPitch();
    const int height = out->GetHeight();
    std::uint8_t* dst = out->GetWritePtr();

    bool samePitch = true;
    for (const VideoFrame* f : in) samePitch = samePitch && f->GetPitch() == pitch;
    if (samePitch) {
        keying::KeyingPass(in[0]->GetReadPtr(), in[1]->GetReadPtr(), in[2]->GetReadPtr(), in[3]->GetReadPtr(),
                           in[4]->GetReadPtr(), in[5]->GetReadPtr(), dst,
                           static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height));
        return out;
    }

    // Differently laid out inputs: key each row's pixels at the row's own address in
    // every frame, and clear the output's padding so every byte of it is still written.
    const std::size_t rowSize = static_cast<std::size_t>(out->GetRowSize());
    for (int y = 0; y < height; ++y) {
        std::array<const std::uint8_t*, 6> row{};
        for (std::size_t i = 0; i < in.size(); ++i) {
            row[i] = in[i]->GetReadPtr() + static_cast<std::ptrdiff_t>(y) * in[i]->GetPitch();
        }
        std::uint8_t* outRow = dst + static_cast<std::ptrdiff_t>(y) * pitch;
        keying::KeyingPass(row[0], row[1], row[2], row[3], row[4], row[5], outRow, rowSize);
        std::memset(outRow + rowSize, 0, static_cast<std::size_t>(pitch) - rowSize);
    }
    return out;
}
