#include "voice/AudioPack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/ZipReader.h"

namespace {

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
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The new clip is written beside the old one and renamed over it only when
// its data and CRC-32 check out, so a damaged entry never costs a good clip.
bool ExtractFile(const ZipReader& reader, const ZipEntryInfo& info, const std::string& base,
                 const std::string& relative) {
    const size_t slash = relative.rfind('/');
    const std::string folder =
        slash == std::string::npos ? base : base + relative.substr(0, slash + 1);
    if (!MakeFolders(folder)) {
        return false;
    }
    const std::string target = base + relative;
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            return false;
        }
        // A clip someone made read-only is one they want kept.
        if (S_ISREG(existing.st_mode) && (existing.st_mode & 0222) == 0) {
            return false;
        }
    }

    AtomicFile file(target, info.readOnly ? 0444 : 0644);
    const bool read =
        file.IsOpen() && reader.ReadTo(info.index, [&file](const char* data, size_t size) {
            return file.Write(data, size);
        });
    if (!read) {
        return false;
    }
    file.SetTimes(info.accessed, info.modified);
    return file.Commit();
}

bool ExtractEntry(const ZipReader& reader, const ZipEntryInfo& info, const std::string& base) {
    std::string relative;
    if (!MakeSafeName(info.name, relative)) {
        return false;
    }
    if (info.directory) {
        while (!relative.empty() && relative.back() == '/') {
            relative.pop_back();
        }
        return MakeFolders((relative.empty() ? base : base + relative) + '/');
    }
    if (relative.back() == '/') {
        return false;
    }
    return ExtractFile(reader, info, base, relative);
}

}  // namespace

bool UnzipToFolder(const std::string& archivePath, const std::string& targetFolder) {
    ZipReader reader;
    if (!reader.OpenFile(archivePath)) {
        return false;
    }
    std::string base = targetFolder;
    if (base.empty() || (base.back() != '/' && base.back() != '\\')) {
        base += '/';
    }
    if (base.back() == '\\') {
        base.back() = '/';
    }
    // Each entry stands alone: one that fails is skipped and the rest go on.
    for (const ZipEntryInfo& info : reader.Entries()) {
        try {
            ExtractEntry(reader, info, base);
        } catch (...) {
        }
    }
    return true;
}

void UnpackAudioPack() {
    std::string archive;
    try {
        const std::string folder = WideToUtf8(GetModuleDir());
        if (folder.empty()) {
            return;
        }
        archive = folder + "Audio.zip";
        struct stat st {};
        if (::lstat(archive.c_str(), &st) != 0) {
            return;
        }
        UnzipToFolder(archive, folder);
    } catch (...) {
    }
    // Removed whatever happened, so a damaged pack is not tried at every start.
    if (!archive.empty()) {
        ::unlink(archive.c_str());
    }
}
