// Cutting and composing cashier messages: the bytes go through a real socket
// pair into the reader, as they would from a cashier connection. Every read
// must be answered "OK", and no clip name may point outside the audio folder.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzProgramDir.h"
#include "app/VoiceServices.h"
#include "link/MessageReader.h"
#include "voice/AnnouncementComposer.h"

namespace {

// The player joins the audio folder and the clip name by plain concatenation,
// so a name stays inside that folder unless one of its parts is "..". (A detail
// byte "/" gives the clip "/.wav", which is "Audio//.wav" there: harmless.)
bool SafeClip(const std::string& clip) {
    if (clip.empty() || clip.find('\0') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= clip.size()) {
        size_t end = clip.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = clip.size();
        if (clip.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Debug on, so that every received text also goes through the log.
    FuzzProgramDir("[WebSetting]\r\nUrl=http://127.0.0.1:1\r\nTimeOut=1\r\ndebug=1\r\n");
    if (size == 0 || size > 4096)
        return 0;
    static std::vector<Announcement> queued;
    static AnnouncementComposer composer([](const Announcement& a) { queued.push_back(a); });
    queued.clear();

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0)
        abort();
    if (write(sv[1], data, size) != static_cast<ssize_t>(size))
        abort();
    MessageReader reader([](const CashierMessage& m) { VoiceServices::Compose(composer, m); });
    int pending = 0;
    while (ioctl(sv[0], FIONREAD, &pending) == 0 && pending > 0) {
        if (!reader.OnSocketRead(sv[0]))
            abort();  // the peer is still there
        char reply[8];
        const ssize_t n = read(sv[1], reply, sizeof reply);
        if (n != 2 || reply[0] != 'O' || reply[1] != 'K')
            abort();
    }
    for (const Announcement& a : queued) {
        if (a.empty())
            abort();
        for (const std::string& clip : a) {
            if (!SafeClip(clip))
                abort();
        }
    }
    close(sv[0]);
    close(sv[1]);
    return 0;
}
