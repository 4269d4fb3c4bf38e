#pragma once
// Whether an address is a content-delivery server's. The engine sets its transfers up by it and
// the workflow orders its fallback addresses by it, so it lives at the lower of the two.

#include <string_view>

namespace FuntionImpl {

// A content-delivery URL: contains "cdn." or "dl." (case-sensitive).
inline bool IsCdnUrl(std::string_view url) {
    return url.find("cdn.") != std::string_view::npos || url.find("dl.") != std::string_view::npos;
}

}  // namespace FuntionImpl
