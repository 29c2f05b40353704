// Keys six inputs into one or more outputs through the host and the plugin: what
// `nolukey key` runs and what `nolukey demo` runs on its rendered captures.
#pragma once

#include <array>
#include <functional>

#include "cli/key_job.h"
#include "plugin/host_interface.h"

namespace nolukey {

// Builds the clip whose frames are written, from the six input clips in role order.
// Unset: the plugin's NoluMultiColorKeying. Only the benchmark sets another, to time the
// pipeline without the keying.
using ResultBuilder = std::function<PClip(IScriptEnvironment* env, const std::array<PClip, 6>& inputs)>;

// Checks everything it can before decoding a frame, then keys, writes in frame order and
// renames the outputs into place. Throws KeyError, media::MediaError or AvisynthError, each
// carrying one line that names the file and the problem; nothing is left at an output path then.
KeySummary RunKey(const KeyJob& job, const ResultBuilder& buildResult = {});

}  // namespace nolukey
