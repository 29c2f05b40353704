#include "cli/key_job.h"

#include <charconv>

namespace nolukey {

std::optional<FrameRange> ParseFrameRange(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto number = [](std::string_view digits, int& value) {
        if (digits.empty() || digits.front() == '-' || digits.front() == '+') {
            return false;
        }
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return ec == std::errc() && end == digits.data() + digits.size();
    };
    FrameRange range;
    if (!number(text.substr(0, colon), range.first) || !number(text.substr(colon + 1), range.last) ||
        range.first > range.last) {
        return std::nullopt;
    }
    return range;
}

}  // namespace nolukey
