#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netpacket/packet.h>

#include <algorithm>

#include "app/Helpers.h"

std::vector<NetworkAdapter> ReadNetworkAdapters() {
    std::vector<NetworkAdapter> adapters;
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return adapters;
    }
    // getifaddrs lists one entry per address: the link-layer entry carries the
    // hardware address, the IPv4 entries the addresses, joined by name.
    auto find = [&adapters](const char* name) -> NetworkAdapter& {
        for (auto& a : adapters) {
            if (a.name == name) {
                return a;
            }
        }
        adapters.push_back(NetworkAdapter{name, {}, {}});
        return adapters.back();
    };
    for (auto* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_name == nullptr) {
            continue;
        }
        if (it->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
            const size_t length = std::min<size_t>(ll->sll_halen, sizeof(ll->sll_addr));
            find(it->ifa_name).hardware.assign(ll->sll_addr, ll->sll_addr + length);
        } else if (it->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
            char text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text)) != nullptr) {
                find(it->ifa_name).ipv4.emplace_back(text);
            }
        }
    }
    ::freeifaddrs(list);
    return adapters;
}
