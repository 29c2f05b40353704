// The clip that the script function NoluMultiColorKeying returns: six captures in,
// one keyed RGB32 clip with alpha out, described exactly as red1.
#pragma once

#include "plugin/host_interface.h"

class NoluMultiColorKeying : public GenericVideoFilter {
public:
    // The script's names for the six inputs, in role order.
    static constexpr const char* kInputNames[6] = {"red1", "red2", "red3", "green1", "green2", "green3"};

    // Refuses, through env->ThrowError, inputs that are not RGB32 and inputs whose
    // frame size differs from red1's. Every input must be a non-null clip.
    NoluMultiColorKeying(const PClip& red1, const PClip& red2, const PClip& red3, const PClip& green1,
                         const PClip& green2, const PClip& green3, IScriptEnvironment* env);
    // Members go in reverse order: green3 first, red1 last, then the base's child.
    ~NoluMultiColorKeying() override = default;

    int GetVersion() override { return 3; }
    PVideoFrame GetFrame(int n, IScriptEnvironment* env) override;

private:
    PClip red1, red2, red3;
    PClip green1, green2, green3;  // green1 is the colour source
};
