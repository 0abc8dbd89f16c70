#pragma once

#include <string>
#include <vector>

// Small stateless helpers shared by every subsystem. Narrow texts are UTF-8
// (the locale's encoding here, also for what the Windows program kept in its
// ANSI code page); wide texts are std::wstring. Paths use '/'.

// Folder of the running executable, ending with '/'; empty when the path has none.
std::wstring GetModuleDir();
// GetModuleDir() narrowed, followed by "Audio/".
std::string GetAudioDir();
// Version of the file as four numbers joined by '.'; "unknown" when it has none.
// Only the running program carries a version here.
std::wstring GetFileVersionText(const std::wstring& path);
// The program's own version, "4.0.3.2".
std::string GetAppVersion();
// Hardware and IPv4 addresses of the network adapters, appended to the outputs:
// MACs as lower-case bytes joined by '-', adapters joined by ", "; IPs joined by ','.
// Adapters without a hardware address (loopback) or whose first MAC byte is 0 are
// skipped, and so is 0.0.0.0. Always true.
bool GetAdapterInfo(std::string& mac, std::string& ip);

// One network adapter as the system lists it: its hardware address (empty when
// it has none) and its IPv4 addresses in dotted form, in the system's order.
struct NetworkAdapter {
    std::string name;
    std::vector<unsigned char> hardware;
    std::vector<std::string> ipv4;
};
// The adapters in the order the system first names them; empty when the list
// cannot be read.
std::vector<NetworkAdapter> ReadNetworkAdapters();
// Appends the texts of GetAdapterInfo for these adapters, with its skipping rules.
void FormatAdapterInfo(const std::vector<NetworkAdapter>& adapters, std::string& mac,
                       std::string& ip);

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// The "ANSI" conversions are UTF-8 here as well.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

// Creates every missing folder of a path; the part after the last separator
// ('/' or '\\') is taken as a file name and not created.
void CreateDirs(const std::string& path);
// Replaces every occurrence left to right; never matches inside inserted text.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to);
// a-z become A-Z, every other byte stays.
std::string ToUpper(const std::string& text);
// Each character as a digit; false on an empty text or at the first non-digit
// (the digits before it stay in the list).
bool SplitDigits(const std::string& text, std::vector<int>& digits);
// Each byte as a signed 8-bit value widened to int; false on an empty text.
bool SplitChars(const std::string& text, std::vector<int>& chars);
