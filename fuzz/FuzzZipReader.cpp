// The zip reader (audio pack and skin archive) on arbitrary archives: no crash,
// no read outside the input, every entry either read whole or refused.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZipReader zip;
    if (!zip.OpenMemory(std::string(reinterpret_cast<const char*>(data), size)))
        return 0;
    for (const ZipEntryInfo& e : zip.Entries()) {
        if (zip.Find(e.name) < 0)
            abort();
        std::string bytes;
        if (zip.Read(e.index, bytes) && !e.directory && bytes.size() != e.size)
            abort();
    }
    return 0;
}
