#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "app/PasswordCipher.h"

namespace {

struct Vector {
    std::string plain;
    std::string hex;
};

// Computed independently of this code with
//   printf '%s' TEXT | openssl enc -des-cbc -K 706c687461762c65
//       -iv 706c687461762c65 -provider legacy -provider default | xxd -p -u
// (one command line)
// so they are the digits that saved-login files of earlier installations hold.
const Vector kVectors[] = {
    {"0", "4EE88AEF5F3BECA5"},
    {"1", "228820DC33518465"},
    {"a", "10C84DD24957C370"},
    {"12345", "FCF71056B6D39E8A"},
    {"1234567", "B978106152EB8BA9"},
    {"5001", "8CFEE08DE763AACF"},
    {"12345678", "B8DA4E9673CBBA0D47DA6FA0E3A194BF"},
    {"0123456789abcdef", "014C9359567F38AD2B4AE4CCF9AEC2B88526B33E628CABD2"},
    {"pa%sw0rd", "2A6EFF791CBE9ED803F2EEE8DF2B4099"},
    {"\xE5\xBA\x97\xE9\x95\xBF", "71EB5AFD469ACCD1"},  // two CJK characters in UTF-8
};

class CipherVectors : public ::testing::TestWithParam<Vector> {};

TEST_P(CipherVectors, EncryptGivesTheStandardDesCbcDigits) {
    EXPECT_EQ(EncryptPassword(GetParam().plain), GetParam().hex);
}

TEST_P(CipherVectors, DecryptReadsUpperAndLowerCaseDigits) {
    std::string lower = GetParam().hex;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(DecryptPassword(GetParam().hex), GetParam().plain);
    EXPECT_EQ(DecryptPassword(lower), GetParam().plain);
}

TEST_P(CipherVectors, DecryptIgnoresAnOddLastDigit) {
    EXPECT_EQ(DecryptPassword(GetParam().hex + "7"), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(Known, CipherVectors, ::testing::ValuesIn(kVectors));

TEST(PasswordCipher, EmptyTextStaysEmptyBothWays) {
    EXPECT_EQ(EncryptPassword(""), "");
    EXPECT_EQ(DecryptPassword(""), "");
}

TEST(PasswordCipher, PaddingAlwaysAddsOneToEightBytes) {
    for (size_t n = 1; n <= 33; ++n) {
        const std::string plain(n, 'x');
        const std::string hex = EncryptPassword(plain);
        EXPECT_EQ(hex.size(), 16 * (n / 8 + 1)) << n;
        EXPECT_EQ(DecryptPassword(hex), plain) << n;
    }
}

TEST(PasswordCipher, EveryByteValueExceptNulRoundTrips) {
    std::string plain;
    for (int b = 1; b < 256; ++b) {
        plain += static_cast<char>(b);
    }
    EXPECT_EQ(DecryptPassword(EncryptPassword(plain)), plain);
}

struct BadInput {
    const char* name;
    std::string hex;
};

// Hand-edited, truncated or foreign texts give nothing rather than garbage.
class CipherBadInput : public ::testing::TestWithParam<BadInput> {};

TEST_P(CipherBadInput, GivesTheEmptyText) {
    EXPECT_EQ(DecryptPassword(GetParam().hex), "");
}

const std::string kFive = "FCF71056B6D39E8A";  // "12345"

INSTANTIATE_TEST_SUITE_P(
    Cases, CipherBadInput,
    ::testing::Values(BadInput{"NotHexPair", "ZZ" + kFive.substr(2)},
                      BadInput{"SecondDigitNotHex", "F" + std::string("G") + kFive.substr(2)},
                      BadInput{"OnlyZZ", "ZZ"}, BadInput{"SingleDigit", "A"},
                      BadInput{"NotWholeBlock", kFive.substr(0, 14)},
                      BadInput{"TruncatedSecondBlock", "B8DA4E9673CBBA0D47DA6FA0"},
                      BadInput{"PlainTextOne", "1"}, BadInput{"PlainWord", "password"},
                      BadInput{"WrongPadding", "0000000000000000"},
                      BadInput{"LastBlockFlipped", "B8DA4E9673CBBA0D47DA6FA0E3A194BE"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
