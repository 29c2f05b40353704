// The library's door to the host: the entry point registers the script function,
// and the create function turns a script call's arguments into a keying filter.
#include <new>

#include "plugin/host_interface.h"
#include "plugin/keying_filter.h"

#if defined(_WIN32)
#define NOLU_EXPORT extern "C" __declspec(dllexport)
#define NOLU_ENTRY_CC __stdcall
#else
#define NOLU_EXPORT extern "C" __attribute__((visibility("default")))
#define NOLU_ENTRY_CC
#endif

namespace {

constexpr const char* kDescription = "Nolu MultiColor Keying for AviSynth";

AVSValue CreateKeying(AVSValue args, void*, IScriptEnvironment* env) {
    // The signature lets a script leave any clip out; refuse before touching any clip.
    for (int i = 0; i < 6; ++i) {
        if (!args[i].IsClip()) env->ThrowError("NoluMultiColorKeying: missing clip %s", NoluMultiColorKeying::kInputNames[i]);
    }
    IClip* filter = nullptr;
    try {
        filter = new NoluMultiColorKeying(args[0].AsClip(), args[1].AsClip(), args[2].AsClip(), args[3].AsClip(),
                                          args[4].AsClip(), args[5].AsClip(), env);
    } catch (const std::bad_alloc&) {
        // The one failure of our own; the host's errors pass through untouched.
        env->ThrowError("NoluMultiColorKeying: out of memory");
    }
    return AVSValue(filter);
}

struct Registration {
    const char* name;
    const char* params;
    ApplyFunc create;
};

constexpr Registration kFunctions[] = {
    {"NoluMultiColorKeying", "[red1]c[red2]c[red3]c[green1]c[green2]c[green3]c", &CreateKeying},
};

}  // namespace

NOLU_EXPORT const char* NOLU_ENTRY_CC AvisynthPluginInit2(IScriptEnvironment* env) {
    for (const Registration& f : kFunctions) env->AddFunction(f.name, f.params, f.create, nullptr);
    return kDescription;
}
