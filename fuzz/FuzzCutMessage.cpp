// Cutting a cashier text into its fields: the fields must put the text back
// together exactly, and each separator must be the first of its kind.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "link/CashierMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view received(reinterpret_cast<const char*>(data), size);
    const std::string_view text = CashierText(received);
    if (text.find('\0') != std::string_view::npos || text.size() > received.size())
        abort();
    const CashierMessage m = CutCashierMessage(text);
    switch (m.form) {
        case CashierMessage::Form::Ignored:
            if (!m.subject.empty() || !m.detail.empty() || !m.code.empty())
                abort();
            break;
        case CashierMessage::Form::Comma:
            if (m.subject.empty() || m.code.empty() || !m.detail.empty())
                abort();
            if (m.subject.find(',') != std::string::npos)
                abort();
            if (m.subject + "," + m.code != text)
                abort();
            break;
        case CashierMessage::Form::Dot:
            if (m.subject.empty() || m.code.empty())
                abort();
            if (text.find(',') != std::string_view::npos)
                abort();
            if (m.subject.find_first_of(".#") != std::string::npos)
                abort();
            if (m.detail.find('#') != std::string::npos)
                abort();
            if (m.subject + "." + m.detail + "#" + m.code != text)
                abort();
            break;
    }
    return 0;
}
