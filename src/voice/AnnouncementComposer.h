#pragma once

#include <functional>
#include <string>
#include <vector>

#include "voice/Announcement.h"

struct MessageCode;

// Turns one cashier message into an Announcement and hands it to its sink.
// What each code speaks stands in the table of MessageCodes.h; this class
// checks and reads seats and handles the few codes a table row cannot say.
// Its owner hands in everything outside composition: where announcements go,
// the store's WeChat switch, and how a server clip is fetched. Runs on the
// main thread.
class AnnouncementComposer {
public:
    using Sink = std::function<void(const Announcement&)>;
    // Read when a message is composed, so a login that changes it counts at once.
    using WxOpen = std::function<bool()>;
    // Fetches a server clip to a local file and calls `done` afterwards, whether
    // the fetch succeeded or not (the clip is queued either way, and a missing
    // file is reported when played). May call `done` before it returns.
    using FetchClip = std::function<void(const std::string& serverPath,
                                         const std::string& localPath, std::function<void()> done)>;

    // Without a switch the feature counts as off; without a fetch a missing
    // server clip is queued as it is.
    explicit AnnouncementComposer(Sink sink, WxOpen wxOpen = {}, FetchClip fetchClip = {});

    void ComposeCommaMessage(const std::string& subject, const std::string& code);
    void ComposeDotMessage(const std::string& subject, const std::string& detail,
                           const std::string& code);

    // Checks the seat and appends the code's prefix and the spoken seat number;
    // false (nothing appended) for a seat that is not one.
    bool ComposeSeat(const std::string& key, const std::string& subject, Announcement& list);
    static void ReadNumber(const std::vector<int>& digits, Announcement& list);
    static std::string DigitClip(int value);

private:
    void Queue(const Announcement& list);

    // Lets exceptions pass so that nothing of a failed message is queued.
    void HandleCustomClip(const std::string& subject);
    // Logs the event's name at INFO; an exception is logged and leaves the list
    // with what was appended before it.
    void AppendDotEvent(const MessageCode& row, const std::string& detail, Announcement& list);

    Sink m_sink;
    WxOpen m_wxOpen;
    FetchClip m_fetchClip;
};
