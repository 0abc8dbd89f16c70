// Winsock first: the adapter header needs its types, and windows.h must not
// bring in the old Winsock.
#include <winsock2.h>

#include <iphlpapi.h>

#include <algorithm>
#include <vector>

#include "app/Helpers.h"

std::vector<NetworkAdapter> ReadNetworkAdapters() {
    std::vector<NetworkAdapter> adapters;
    // The size the list needs is asked first; it may grow between the calls
    // (an adapter plugged in), so the call is tried again with the new size.
    ULONG size = 0;
    std::vector<unsigned char> buffer;
    DWORD result = ::GetAdaptersInfo(nullptr, &size);
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result != ERROR_SUCCESS) {
        return adapters;  // ERROR_NO_DATA: no adapter at all
    }
    // One entry per adapter, each with its hardware address and its IPv4
    // addresses ("0.0.0.0" while it has none).
    for (auto* it = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); it != nullptr;
         it = it->Next) {
        NetworkAdapter adapter{it->AdapterName, {}, {}};
        const size_t length = std::min<size_t>(it->AddressLength, sizeof(it->Address));
        adapter.hardware.assign(it->Address, it->Address + length);
        for (const IP_ADDR_STRING* address = &it->IpAddressList; address != nullptr;
             address = address->Next) {
            adapter.ipv4.emplace_back(address->IpAddress.String);
        }
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}
