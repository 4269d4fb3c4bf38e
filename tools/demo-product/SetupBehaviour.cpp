#include "SetupBehaviour.h"

#include <charconv>

namespace demo {
namespace {

std::optional<int64_t> parseNumber(std::string_view text, int64_t min, int64_t max) {
    int64_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || number < min ||
        number > max)
        return std::nullopt;
    return number;
}

}  // namespace

std::optional<SetupBehaviour> parseSetupBehaviour(std::string_view text, std::string& error) {
    using Kind = SetupBehaviour::Kind;
    if (text.empty())
        return SetupBehaviour{};
    if (text == "hang")
        return SetupBehaviour{Kind::Hang, 0};
    const size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    const std::string_view argument =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    if (name == "slow" && colon != std::string_view::npos) {
        if (auto ms = parseNumber(argument, 0, kMaxSlowMs))
            return SetupBehaviour{Kind::Slow, *ms};
        error = "slow:MS takes 0 to " + std::to_string(kMaxSlowMs) + " milliseconds";
        return std::nullopt;
    }
    if (name == "fail" && colon != std::string_view::npos) {
        // 0 would report success for an install that never happened.
        if (auto code = parseNumber(argument, 1, 255))
            return SetupBehaviour{Kind::Fail, *code};
        error = "fail:CODE takes an exit code from 1 to 255";
        return std::nullopt;
    }
    error = "unknown behaviour \"" + std::string(text) + "\" (slow:MS, hang or fail:CODE)";
    return std::nullopt;
}

}  // namespace demo
