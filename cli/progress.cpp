#include "cli/progress.h"

#include <algorithm>
#include <cmath>

namespace nolukey {
namespace {

std::string Duration(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

}  // namespace

Progress::Progress(int total, bool enabled, std::FILE* out)
    : total_(total), enabled_(enabled), out_(out), start_(Clock::now()), lastDraw_(start_) {}

std::string Progress::Line(int done, int total, double elapsed) {
    const double fps = elapsed > 0.0 ? done / elapsed : 0.0;
    std::string left = "--:--";
    if (done > 0 && fps > 0.0) {
        left = Duration((total - done) / fps);
    }
    char text[128];
    std::snprintf(text, sizeof text, "frame %d/%d  %.1f fps  %s left", done, total, fps, left.c_str());
    return text;
}

void Progress::FrameDone() {
    ++done_;
    if (!enabled_) {
        return;
    }
    const auto now = Clock::now();
    if (done_ == total_ || !drawn_ || now - lastDraw_ >= std::chrono::milliseconds(250)) {
        lastDraw_ = now;
        Draw();
    }
}

void Progress::Draw() {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    // \r and clear-to-end-of-line keep it on one line however long the previous text was.
    std::fprintf(out_, "\r%s\033[K", Line(done_, total_, elapsed).c_str());
    std::fflush(out_);
    drawn_ = true;
}

void Progress::Finish() {
    if (enabled_ && drawn_) {
        std::fputc('\n', out_);
        std::fflush(out_);
        drawn_ = false;
    }
}

}  // namespace nolukey
