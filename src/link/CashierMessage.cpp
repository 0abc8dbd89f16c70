#include "link/CashierMessage.h"

std::string_view CashierText(std::string_view received) {
    const size_t zero = received.find('\0');
    return zero == std::string_view::npos ? received : received.substr(0, zero);
}

CashierMessage CutCashierMessage(std::string_view text) {
    CashierMessage message;
    if (const size_t comma = text.find(','); comma != std::string_view::npos) {
        // Later commas, hashes and full stops all belong to the code.
        const std::string_view subject = text.substr(0, comma);
        const std::string_view code = text.substr(comma + 1);
        if (subject.empty() || code.empty()) {
            return {};
        }
        message.form = CashierMessage::Form::Comma;
        message.subject = subject;
        message.code = code;
        return message;
    }
    const size_t hash = text.find('#');
    if (hash == std::string_view::npos) {
        return {};
    }
    const std::string_view head = text.substr(0, hash);
    const std::string_view code = text.substr(hash + 1);
    const size_t dot = head.find('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    const std::string_view subject = head.substr(0, dot);
    if (subject.empty() || code.empty()) {
        return {};
    }
    message.form = CashierMessage::Form::Dot;
    message.subject = subject;
    message.detail = head.substr(dot + 1);
    message.code = code;
    return message;
}
