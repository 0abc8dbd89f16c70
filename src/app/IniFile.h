#pragma once

#include <string>

// Reads and writes one key of a Windows-style INI file with the rules of the
// Windows private-profile functions: section and key names match without
// regard to case, blanks around names and values are trimmed, one pair of
// surrounding quotes is stripped, CRLF and a UTF-8 BOM are accepted. Writing
// keeps every other line and creates the file, section or key where missing.
class IniFile {
public:
    explicit IniFile(std::string path) : m_path(std::move(path)) {}

    // The value of the key, or `fallback` when the file, section or key is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // The leading (optionally signed) decimal number of the value; 0 when the
    // value does not begin with one; `fallback` when the key is missing or empty.
    int ReadInt(const std::string& section, const std::string& key, int fallback) const;
    // Writes the key; the file is replaced in one rename, so a failed write keeps
    // the old file. False when the file could not be written.
    bool WriteString(const std::string& section, const std::string& key,
                     const std::string& value) const;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
