#pragma once

#include <QByteArray>
#include <QHash>
#include <QPixmap>
#include <QString>

#include <memory>
#include <string>

class ZipReader;

// The skin archive the windows are built from: layouts under Xmls/ and images
// under UI/. Paths may be written with '\' or '/' and in any letter case, as
// the layouts of older skins mix both spellings.
class SkinArchive {
public:
    static SkinArchive& Instance();

    // Loads the archive compiled into the program; false (and no archive) when
    // it cannot be read.
    bool LoadEmbedded();
    // Loads an archive from bytes; false leaves no archive set.
    bool LoadBytes(std::string bytes);
    void Clear();
    bool IsLoaded() const;

    // The file's bytes; false when there is no archive, no such file or it is damaged.
    bool ReadFile(const QString& path, QByteArray& data) const;
    bool Contains(const QString& path) const;
    // The image at `path`, decoded once and cached; a null pixmap when missing.
    QPixmap Pixmap(const QString& path) const;

    // "UI\\Warn.PNG" -> "ui/warn.png": the key under which paths are matched.
    static QString NormalisePath(const QString& path);

    SkinArchive(const SkinArchive&) = delete;
    SkinArchive& operator=(const SkinArchive&) = delete;

private:
    SkinArchive();
    ~SkinArchive();

    std::unique_ptr<ZipReader> m_zip;
    QHash<QString, size_t> m_index;
    mutable QHash<QString, QPixmap> m_pixmaps;
};
