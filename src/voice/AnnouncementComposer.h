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

    // Comma-form compositions. HandleProduct and HandleCustomClip let exceptions
    // pass so that nothing of a failed message is queued.
    bool HandleCustomClip(const std::string& subject, Announcement& list);
    bool HandlePromotion(const std::string& subject, Announcement& list);
    bool HandleProduct(const std::string& code, const std::string& subject, Announcement& list);
    // A seat clip, the seat number, then the fixed clip of the event.
    bool ComposeSeatEvent(const std::string& key, const std::string& subject, const char* eventClip,
                          Announcement& list);

    // Dot-form events: each logs its name at INFO and returns false only when it
    // caught an exception (logged).
    bool HandleCashPay(Announcement& list, const std::string& detail);
    bool HandleOnlinePay(Announcement& list, const std::string& detail);
    bool HandleCallAdmin(Announcement& list, const std::string& detail);
    bool HandlePlaceOrder(Announcement& list);
    bool HandleBuyOther(Announcement& list);
    bool HandlePayOther(Announcement& list);
    bool AppendDetailEvent(const char* name, const char* first, const std::string& detail,
                           const char* last, Announcement& list);
    bool AppendFixedEvent(const char* name, const char* clip, Announcement& list);

    Sink m_sink;
    std::map<std::string, Announcement> m_prefixTable;
};
