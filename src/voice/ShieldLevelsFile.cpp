#include "voice/ShieldLevelsFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "app/AtomicFile.h"

namespace {
// From UTF-8, so that a folder name outside the ANSI code page is found too.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
}  // namespace

ShieldLevelsFile::ShieldLevelsFile(std::string path) : m_path(std::move(path)) {}

bool ShieldLevelsFile::Write(const std::string& text) {
    return WriteFileAtomically(m_path, text);
}

void ShieldLevelsFile::Remove() {
    std::error_code error;
    std::filesystem::remove(PathOf(m_path), error);
}

std::string ShieldLevelsFile::Read() const {
    std::ifstream in(PathOf(m_path), std::ios::binary);
    if (!in) {
        return {};
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
