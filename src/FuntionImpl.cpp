#include "FuntionImpl.h"

#include "platform/System.h"

namespace FuntionImpl {

bool IsCdnUrl(std::string_view url) {
    return url.find("cdn.") != std::string_view::npos || url.find("dl.") != std::string_view::npos;
}

bool IsWow64() { return platform::is64BitOs(); }

}  // namespace FuntionImpl
