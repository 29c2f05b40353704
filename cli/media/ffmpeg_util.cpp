#include "cli/media/ffmpeg_util.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <unistd.h>

namespace media::detail {

FramePtr NewFrame() {
    FramePtr f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

PacketPtr NewPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

void QuietLibraryLog() {
    // Failures reach the user as one MediaError line; FFmpeg's own log lines would only add noise.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) std::snprintf(text, sizeof text, "error %d", code);
    return text;
}

void Fail(const std::string& file, const std::string& what, int code) {
    throw MediaError(file + ": " + what + " (" + AvError(code) + ")");
}

void Fail(const std::string& file, const std::string& what) { throw MediaError(file + ": " + what); }

std::string NumberPattern::Format(int number) const {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return prefix + digits + suffix;
}

bool ParseNumberPattern(std::string_view path, NumberPattern* out) {
    NumberPattern p;
    bool found = false;
    std::string* part = &p.prefix;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            *part += path[i];
            continue;
        }
        if (i + 1 < path.size() && path[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        // %d, %Nd or %0Nd
        std::size_t j = i + 1;
        int width = 0;
        while (j < path.size() && std::isdigit(static_cast<unsigned char>(path[j]))) {
            width = width * 10 + (path[j] - '0');
            if (width > 18) return false;
            ++j;
        }
        if (j >= path.size() || path[j] != 'd' || found) return false;
        found = true;
        p.width = width;
        part = &p.suffix;
        i = j;
    }
    if (found && out) *out = std::move(p);
    return found;
}

std::string LowerExtension(std::string_view path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    std::string ext(path.substr(dot));
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasPercentDirective(std::string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i)
        if (path[i] == '%') {
            if (i + 1 < path.size() && path[i + 1] == '%')
                ++i;
            else
                return true;
        }
    return false;
}

std::string CreateTemporaryBeside(const std::string& target, const std::string& reported) {
    const std::string& named = reported.empty() ? target : reported;
    const std::string folder = FolderOf(target);
    const std::string name = NameOf(target);
    const std::string ext = LowerExtension(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 rng(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 6; ++i) suffix += kLetters[pick(rng)];
        std::string tmp = target.substr(0, target.size() - name.size()) + "." + stem + ".partial-" + suffix + ext;
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return tmp;
        }
        if (errno != EEXIST)
            throw MediaError(named + ": cannot write in folder " + folder + " (" + std::strerror(errno) + ")");
    }
    throw MediaError(named + ": cannot find a free temporary name in folder " + folder);
}

void MoveIntoPlace(const std::string& tmp, const std::string& target) {
    if (std::rename(tmp.c_str(), target.c_str()) != 0) {
        int err = errno;
        std::remove(tmp.c_str());
        throw MediaError(target + ": cannot move the finished file into place (" + std::strerror(err) + ")");
    }
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) std::remove(path_.c_str());
}

void TemporaryFile::MoveIntoPlace() {
    const std::string path = std::move(path_);
    path_.clear();
    detail::MoveIntoPlace(path, target_);
}

int SwsColorspace(AVColorSpace space, int width, int height) {
    switch (space) {
        case AVCOL_SPC_BT709: return SWS_CS_ITU709;
        case AVCOL_SPC_FCC: return SWS_CS_FCC;
        case AVCOL_SPC_BT470BG:
        case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
        case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
        default:
            // Untagged: SD material is BT.601, HD material BT.709, as players assume.
            return (width >= 1280 || height > 576) ? SWS_CS_ITU709 : SWS_CS_ITU601;
    }
}

}  // namespace media::detail
