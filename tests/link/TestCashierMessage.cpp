#include <gtest/gtest.h>

#include <string>

#include "link/CashierMessage.h"

namespace {

using Form = CashierMessage::Form;
using namespace std::string_literals;

struct CutCase {
    std::string text;
    CashierMessage expected;
};

class CutCashierMessageTest : public testing::TestWithParam<CutCase> {};

TEST_P(CutCashierMessageTest, CutsFields) {
    EXPECT_EQ(CutCashierMessage(GetParam().text), GetParam().expected);
}

const CashierMessage kIgnored{};

INSTANTIATE_TEST_SUITE_P(
    Texts, CutCashierMessageTest,
    testing::Values(CutCase{"12,101", {Form::Comma, "12", "", "101"}},
                    CutCase{"a12,101", {Form::Comma, "a12", "", "101"}},
                    // A comma anywhere wins over the dot form; later separators stay in the code.
                    CutCase{"12.5,7", {Form::Comma, "12.5", "", "7"}},
                    CutCase{"12,10113,102", {Form::Comma, "12", "", "10113,102"}},
                    CutCase{"1,2#3.4", {Form::Comma, "1", "", "2#3.4"}},
                    CutCase{"12,101\r\n", {Form::Comma, "12", "", "101\r\n"}},
                    CutCase{" 12,101", {Form::Comma, " 12", "", "101"}},
                    CutCase{"12.5#7", {Form::Dot, "12", "5", "7"}},
                    CutCase{"12.#9", {Form::Dot, "12", "", "9"}},
                    CutCase{"5.1.2#7#8", {Form::Dot, "5", "1.2", "7#8"}}, CutCase{"12#7", kIgnored},
                    CutCase{"12#7.5", kIgnored},  // the full stop must come before the hash
                    CutCase{"12101", kIgnored}, CutCase{"", kIgnored}, CutCase{",101", kIgnored},
                    CutCase{"12,", kIgnored}, CutCase{",", kIgnored}, CutCase{".x#6", kIgnored},
                    CutCase{"12.x#", kIgnored}, CutCase{"#", kIgnored},
                    CutCase{"\xff\xfe,\x01", {Form::Comma, "\xff\xfe", "", "\x01"}}));

struct TextCase {
    std::string received;
    std::string text;
};

class CashierTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(CashierTextTest, CutsAtFirstZeroByte) {
    EXPECT_EQ(std::string(CashierText(GetParam().received)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Reads, CashierTextTest,
                         testing::Values(TextCase{"12,101"s, "12,101"},
                                         TextCase{"12,101\0xyz"s, "12,101"},
                                         TextCase{"\0"s
                                                  "12,101"s,
                                                  ""},
                                         TextCase{"12,1\0"s
                                                  "01\0"s,
                                                  "12,1"},
                                         TextCase{"", ""}));

}  // namespace
