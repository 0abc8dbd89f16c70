#pragma once

#include <functional>
#include <map>
#include <string>

#include "voice/Announcement.h"

// Turns one cashier message into an Announcement and hands it on (by default to
// PlayHelper::Enqueue). Runs on the main thread.
class AnnouncementComposer {
public:
    using Sink = std::function<void(const Announcement&)>;
    // An empty sink queues with PlayHelper.
    explicit AnnouncementComposer(Sink sink = {});

    void BuildPrefixTable();
    void ComposeCommaMessage(const std::string& subject, const std::string& code);
    void ComposeDotMessage(const std::string& subject, const std::string& detail,
                           const std::string& code);

    bool ComposeSeat(const std::string& key, const std::string& subject, Announcement& list);
    static void ReadNumber(const std::vector<int>& digits, Announcement& list);
    static std::string DigitClip(int value);

private:
    void Queue(const Announcement& list);

    Sink m_sink;
    std::map<std::string, Announcement> m_prefixTable;
};
