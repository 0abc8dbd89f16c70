#include "voice/AudioPack.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/ZipReader.h"

namespace {
// Paths are UTF-8 here; a std::string would be taken in the ANSI code page on Windows.
std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Length in bytes of the UTF-8 character that starts the text (1 for ASCII
// or a stray byte), so a drive prefix is recognised by characters, not bytes.
size_t FirstCharLength(const std::string& text) {
    const auto c = static_cast<unsigned char>(text[0]);
    size_t length = 1;
    if ((c & 0xE0) == 0xC0) {
        length = 2;
    } else if ((c & 0xF0) == 0xE0) {
        length = 3;
    } else if ((c & 0xF8) == 0xF0) {
        length = 4;
    }
    return std::min(length, text.size());
}

bool StartsWithParentStep(const std::string& name) {
    return name.size() >= 3 && name[0] == '.' && name[1] == '.' &&
           (name[2] == '\\' || name[2] == '/');
}

// Turns an entry name into a path relative to the target folder, or returns
// false when the entry must be skipped. Drive prefixes, leading separators and
// everything up to a parent step are dropped until none is left, so packs made
// with absolute or climbing paths still land inside the folder.
bool MakeSafeName(std::string name, std::string& safe) {
    if (name.find('\0') != std::string::npos) {
        return false;  // the file system would cut the name short
    }
    static const char* const kParentSteps[] = {"\\..\\", "\\../", "/../", "/..\\"};
    bool changed = true;
    while (changed && !name.empty()) {
        changed = false;
        const size_t first = FirstCharLength(name);
        if (name.size() > first && name[first] == ':') {
            name.erase(0, first + 1);
            changed = true;
            continue;
        }
        if (name[0] == '\\' || name[0] == '/') {
            name.erase(0, 1);
            changed = true;
            continue;
        }
        for (const char* step : kParentSteps) {
            const size_t pos = name.find(step);
            if (pos != std::string::npos) {
                name.erase(0, pos + 4);
                changed = true;
                break;
            }
        }
        if (!changed && StartsWithParentStep(name)) {
            name.erase(0, 3);
            changed = true;
        }
    }
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    // What is left may still end in a parent step ("a/.." or ".."); such a
    // name points at a folder above its own and is not extracted.
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        if (name.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    if (name.empty()) {
        return false;
    }
    safe = name;
    return true;
}

// Creates the missing folders of a folder path (ending in '/'), level by
// level; true when the folder is there afterwards.
bool MakeFolders(const std::string& folder) {
    CreateDirs(folder);
    std::error_code error;
    return std::filesystem::is_directory(PathOf(folder), error);
}

// What became of one entry. Refused ones are left out on purpose (a name that
// cannot be placed, a clip its owner made read-only) and do not damage the pack.
enum class Outcome { Done, Refused, Unreadable, Unwritable };

// The new clip is written beside the old one and renamed over it only when
// its data and CRC-32 check out, so a damaged entry never costs a good clip.
Outcome ExtractFile(const ZipReader& reader, const ZipEntryInfo& info, const std::string& base,
                    const std::string& relative) {
    const size_t slash = relative.rfind('/');
    const std::string folder =
        slash == std::string::npos ? base : base + relative.substr(0, slash + 1);
    if (!MakeFolders(folder)) {
        return Outcome::Unwritable;
    }
    const std::string target = base + relative;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status existing = fs::symlink_status(PathOf(target), error);
    if (!error && fs::exists(existing)) {
        if (fs::is_directory(existing)) {
            return Outcome::Unwritable;
        }
        // A clip someone made read-only is one they want kept.
        constexpr fs::perms kWrite =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        if (fs::is_regular_file(existing) && (existing.permissions() & kWrite) == fs::perms::none) {
            return Outcome::Refused;
        }
    }

    AtomicFile file(target, info.readOnly ? 0444 : 0644);
    if (!file.IsOpen()) {
        return Outcome::Unwritable;
    }
    bool written = true;
    const bool read = reader.ReadTo(info.index, [&](const char* data, size_t size) {
        written = file.Write(data, size);
        return written;
    });
    if (!written) {
        return Outcome::Unwritable;
    }
    if (!read) {
        return Outcome::Unreadable;
    }
    file.SetTimes(info.accessed, info.modified);
    return file.Commit() ? Outcome::Done : Outcome::Unwritable;
}

Outcome ExtractEntry(const ZipReader& reader, const ZipEntryInfo& info, const std::string& base) {
    std::string relative;
    if (!MakeSafeName(info.name, relative)) {
        return Outcome::Refused;
    }
    if (info.directory) {
        while (!relative.empty() && relative.back() == '/') {
            relative.pop_back();
        }
        return MakeFolders((relative.empty() ? base : base + relative) + '/') ? Outcome::Done
                                                                              : Outcome::Unwritable;
    }
    if (relative.back() == '/') {
        return Outcome::Refused;
    }
    return ExtractFile(reader, info, base, relative);
}

const char* Reason(Outcome outcome) {
    return outcome == Outcome::Unreadable ? "数据损坏或无法读取" : "无法写入";
}

}  // namespace

UnzipReport UnzipArchive(const std::string& archivePath, const std::string& targetFolder) {
    UnzipReport report;
    ZipReader reader;
    if (!reader.OpenFile(archivePath)) {
        return report;
    }
    report.opened = true;
    std::string base = targetFolder;
    if (base.empty() || (base.back() != '/' && base.back() != '\\')) {
        base += '/';
    }
    if (base.back() == '\\') {
        base.back() = '/';
    }
    // Each entry stands alone: one that fails is skipped and the rest go on.
    for (const ZipEntryInfo& info : reader.Entries()) {
        std::string failure;
        try {
            const Outcome outcome = ExtractEntry(reader, info, base);
            if (outcome == Outcome::Unreadable || outcome == Outcome::Unwritable) {
                failure = info.name + " " + Reason(outcome);
            }
        } catch (...) {
            failure = info.name + " 解压时异常";
        }
        if (!failure.empty() && report.failed++ == 0) {
            report.firstFailure = failure;
        }
    }
    return report;
}

bool UnzipToFolder(const std::string& archivePath, const std::string& targetFolder) {
    return UnzipArchive(archivePath, targetFolder).opened;
}

void UnpackAudioPack() {
    std::string problem;
    try {
        const std::string folder = WideToUtf8(GetModuleDir());
        if (folder.empty()) {
            return;
        }
        const std::string archive = folder + "Audio.zip";
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(PathOf(archive), error))) {
            return;
        }
        // A pack still being copied, or damaged on the way, holds the store's
        // new recordings: it stays for the next start, and only one that came
        // out whole goes.
        const UnzipReport report = UnzipArchive(archive, folder);
        if (!report.opened) {
            problem = "Audio.zip不完整或不是zip文件";
        } else if (report.failed > 0) {
            problem = report.firstFailure + ", 共" + std::to_string(report.failed) + "个文件未解压";
        } else {
            std::filesystem::remove(PathOf(archive), error);
            return;
        }
    } catch (...) {
        problem = "解压时异常";
    }
    LogHelper::GetInstance()->Error("解压语音包出错: " + problem +
                                    ", Audio.zip已保留, 下次启动重试.");
}
