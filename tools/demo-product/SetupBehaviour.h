#pragma once
// How the demo setup misbehaves for tests, chosen by the environment variable KV_DEMO_SETUP
// (the installer passes its environment on to the setup):
//
//   (unset or empty)  install normally
//   slow:MS           wait MS milliseconds (at most kMaxSlowMs), then install
//   hang              never finish: wait until killed (gives up after kHangLimitMs, so a
//                     forgotten process does not linger for ever), install nothing
//   fail:CODE         exit with CODE (1..255) at once, install nothing
//
// Pure; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace demo {

inline constexpr const char* kBehaviourVariable = "KV_DEMO_SETUP";
inline constexpr int64_t kMaxSlowMs = 600000;
inline constexpr int64_t kHangLimitMs = 600000;

struct SetupBehaviour {
    enum class Kind { Normal, Slow, Hang, Fail };
    Kind kind = Kind::Normal;
    int64_t value = 0;  // Slow: milliseconds; Fail: the exit code
};

// nullopt, with the reason in `error`, for a text that names no behaviour: a mistyped
// request must not quietly become a normal install.
std::optional<SetupBehaviour> parseSetupBehaviour(std::string_view text, std::string& error);

}  // namespace demo
