#pragma once

#include <string>
#include <string_view>

// One text received in one read from a cashier connection, cut into its fields.
struct CashierMessage {
    enum class Form {
        Ignored,  // no usable shape, or a required field is empty
        Comma,    // subject,code
        Dot,      // subject.detail#code
    };
    Form form = Form::Ignored;
    std::string subject;
    std::string detail;  // dot form only; may be empty
    std::string code;

    bool operator==(const CashierMessage&) const = default;
};

// The text of one read: the bytes up to the first zero byte, or all of them.
std::string_view CashierText(std::string_view received);

// Cuts a text into a CashierMessage. A comma anywhere makes the comma form; else
// a hash makes the dot form, whose head before the hash must hold a full stop.
// Texts of neither shape, or with an empty subject or code, come back Ignored
// with every field empty.
CashierMessage CutCashierMessage(std::string_view text);
