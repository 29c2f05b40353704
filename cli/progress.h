// One self-overwriting line of progress: frames done, frames per second, time left.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace nolukey {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // Writes nothing at all unless enabled.
    Progress(int total, bool enabled, std::FILE* out = stderr);
    // Call once per finished frame, from one thread; redraws at most a few times a second.
    void FrameDone();
    ~Progress() { Finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Ends the line so later output (an error, say) starts on a fresh one. Idempotent.
    void Finish();

    // The text of the line after `done` of `total` frames in `elapsed` seconds.
    static std::string Line(int done, int total, double elapsed);

private:
    void Draw();

    int total_;
    bool enabled_;
    std::FILE* out_;
    int done_ = 0;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
};

}  // namespace nolukey
