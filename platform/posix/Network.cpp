#include "platform/Network.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

#include "Logging.h"

namespace platform {

bool isNetworkAlive() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        LOG(INFO) << " getifaddrs failed: " << std::strerror(errno);
        return false;
    }
    bool alive = false;
    for (const ifaddrs* i = list; i && !alive; i = i->ifa_next) {
        const unsigned flags = i->ifa_flags;
        alive = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return alive;
}

}  // namespace platform
