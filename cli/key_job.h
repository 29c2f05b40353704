// What `nolukey key` is asked to do, as plain data: the command line fills it, the demo
// builds one, and both hand it to RunKey.
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nolukey {

// A problem with what the user asked for or gave; the message names the file and the problem.
struct KeyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Inclusive, in frame numbers (see KeyJob::frames).
struct FrameRange {
    int first = 0;
    int last = 0;
};

// "FIRST:LAST" with 0 <= FIRST <= LAST; nothing when the text is not that.
std::optional<FrameRange> ParseFrameRange(std::string_view text);

inline constexpr std::array<const char*, 6> kRoles = {"red1", "red2", "red3", "green1", "green2", "green3"};

struct KeyJob {
    // Input paths in role order: red1, red2, red3, green1, green2, green3.
    std::array<std::string, 6> inputs;
    // Every output receives every keyed frame (the command line gives one; the demo two).
    std::vector<std::string> outputs;
    // Frame numbers to key. Numbers are red1's: frame index plus red1's first number when red1
    // is a numbered sequence, the frame index otherwise. Unset: every frame of red1.
    std::optional<FrameRange> frames;
    // Concurrent frame requests; 0: one per core.
    int threads = 0;
    std::string preview;      // empty: no preview
    std::string background;   // preview background: colour or image; empty: checkerboard
    std::filesystem::path plugin;
    bool progress = false;    // draw progress on stderr
};

struct KeySummary {
    int first = 0;   // frame numbers keyed
    int last = 0;
    int frames = 0;
    int threads = 0;
    double seconds = 0;
};

}  // namespace nolukey
