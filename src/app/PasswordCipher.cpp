#include "app/PasswordCipher.h"

#include <nettle/cbc.h>
#include <nettle/des.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Key and initialisation vector are the same eight bytes; existing saved-login
// files were written with them, so they can never change.
constexpr char kKey[DES_KEY_SIZE + 1] = "plhtav,e";

struct Cipher {
    des_ctx ctx{};
    uint8_t iv[DES_BLOCK_SIZE]{};

    Cipher() {
        // des_set_key only refuses weak keys; this one is not weak, and its
        // parity bits are ignored.
        des_set_key(&ctx, reinterpret_cast<const uint8_t*>(kKey));
        std::memcpy(iv, kKey, DES_BLOCK_SIZE);
    }
    ~Cipher() {
        // The key schedule is secret material; do not leave it on the stack.
        volatile uint8_t* p = reinterpret_cast<volatile uint8_t*>(&ctx);
        for (size_t i = 0; i < sizeof(ctx); ++i) {
            p[i] = 0;
        }
    }
    Cipher(const Cipher&) = delete;
    Cipher& operator=(const Cipher&) = delete;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string EncryptPassword(const std::string& plain) {
    if (plain.empty()) {
        return {};
    }
    // PKCS#5: always 1 to 8 bytes of padding, each holding the pad length.
    const size_t pad = DES_BLOCK_SIZE - plain.size() % DES_BLOCK_SIZE;
    std::vector<uint8_t> buffer(plain.begin(), plain.end());
    buffer.insert(buffer.end(), pad, static_cast<uint8_t>(pad));

    Cipher cipher;
    cbc_encrypt(&cipher.ctx, reinterpret_cast<nettle_cipher_func*>(des_encrypt), DES_BLOCK_SIZE,
                cipher.iv, buffer.size(), buffer.data(), buffer.data());

    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(buffer.size() * 2);
    for (const uint8_t byte : buffer) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::string DecryptPassword(const std::string& hex) {
    // An odd last digit cannot form a byte and is ignored.
    const size_t n = hex.size() / 2;
    if (n == 0 || n % DES_BLOCK_SIZE != 0) {
        return {};
    }
    std::vector<uint8_t> buffer(n);
    for (size_t i = 0; i < n; ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return {};
        }
        buffer[i] = static_cast<uint8_t>(high << 4 | low);
    }

    Cipher cipher;
    cbc_decrypt(&cipher.ctx, reinterpret_cast<nettle_cipher_func*>(des_decrypt), DES_BLOCK_SIZE,
                cipher.iv, buffer.size(), buffer.data(), buffer.data());

    // A wrong key, a damaged or a hand-edited text almost never ends in valid
    // padding; giving such garbage back as a password would be worse than nothing.
    const uint8_t pad = buffer.back();
    if (pad == 0 || pad > DES_BLOCK_SIZE) {
        return {};
    }
    for (size_t i = n - pad; i < n; ++i) {
        if (buffer[i] != pad) {
            return {};
        }
    }
    std::string plain(buffer.begin(), buffer.end() - pad);
    // The text ends at its first NUL, as a C string would.
    const size_t nul = plain.find('\0');
    if (nul != std::string::npos) {
        plain.resize(nul);
    }
    return plain;
}
