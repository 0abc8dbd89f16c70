#pragma once

#include <string>

// DES-CBC with PKCS#5 padding under the program's fixed key; the digits match
// the files written by earlier installations.

// Upper-case hexadecimal cipher text; empty for an empty text.
std::string EncryptPassword(const std::string& plain);
// The plain text; empty for an empty text, a malformed digit pair or a cipher
// text whose padding does not check out.
std::string DecryptPassword(const std::string& hex);
