#pragma once

#include <string>
#include <string_view>
#include <vector>

// What each cashier message code speaks, in one place: a new code is one row.
// The composition reads this table; the test of the recordings reads it too,
// so a clip named here but never recorded fails a test instead of a store.
struct MessageCode {
    std::string_view code;
    // Put in front of the seat number (both forms; only when the seat is read).
    std::vector<std::string> prefix;
    // Whether the subject is a seat checked and spoken as a number.
    bool readsSeat = false;
    // Comma form: the clips after the seat; empty when the comma form does not
    // know the code.
    std::vector<std::string> commaEvent;
    // Comma form: spoken only while the store has the WeChat feature on.
    bool needsWxOpen = false;
    // Dot form: the event's name (logged at INFO), its first clip, whether each
    // byte of the detail is spoken in between, its last clip. Without a name
    // the dot form does not know the code.
    std::string_view dotName;
    std::string dotFirst;
    bool spellsDetail = false;
    std::string dotLast;
};

// The row of a code, or nullptr.
const MessageCode* FindMessageCode(std::string_view code);
const std::vector<MessageCode>& MessageCodes();

// Code "99": the promotion subjects and what each speaks.
struct Promotion {
    std::string_view subject;
    std::vector<std::string> clips;
};
const std::vector<Promotion>& Promotions();

// The clip of a digit (0..9) or unit (10, 100, 1000); empty for anything else.
std::string NumberClip(int value);
// Every built-in clip the composition can name: the rows, the promotions, the
// digits and units. Server clips of code "200" come from the web API instead.
std::vector<std::string> BuiltInClips();
