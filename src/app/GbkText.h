#pragma once

#include <string>

// Old packs carry names in the Chinese Windows code page. GB18030 decodes
// every GBK byte sequence the same way. With `strict`, any byte that fits nothing fails the
// decoding; otherwise it becomes U+FFFD, so that a damaged name can never turn into a separator.
bool GbkToUtf8(const std::string& bytes, bool strict, std::string& out);
