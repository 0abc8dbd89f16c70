#include "ui/SkinArchive.h"

#include "app/ZipReader.h"

#include <cstddef>

extern const unsigned char kSkinArchiveData[];
extern const std::size_t kSkinArchiveSize;

SkinArchive& SkinArchive::Instance() {
    static SkinArchive archive;
    return archive;
}

SkinArchive::SkinArchive() = default;
SkinArchive::~SkinArchive() = default;

bool SkinArchive::LoadEmbedded() {
    return LoadBytes(
        std::string(reinterpret_cast<const char*>(kSkinArchiveData), kSkinArchiveSize));
}

bool SkinArchive::LoadBytes(std::string bytes) {
    Clear();
    auto zip = std::make_unique<ZipReader>();
    if (bytes.empty() || !zip->OpenMemory(std::move(bytes))) {
        return false;
    }
    for (const ZipEntryInfo& entry : zip->Entries()) {
        if (entry.directory) {
            continue;
        }
        const QString key = NormalisePath(QString::fromStdString(entry.name));
        // The first of two spellings of one path wins, as a lookup by name would.
        if (!m_index.contains(key)) {
            m_index.insert(key, entry.index);
        }
    }
    m_zip = std::move(zip);
    return true;
}

void SkinArchive::Clear() {
    m_zip.reset();
    m_index.clear();
    m_pixmaps.clear();
}

bool SkinArchive::IsLoaded() const {
    return m_zip != nullptr;
}

QString SkinArchive::NormalisePath(const QString& path) {
    QString key = path.trimmed();
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (key.startsWith(QLatin1Char('/'))) {
        key.remove(0, 1);
    }
    return key.toLower();
}

bool SkinArchive::Contains(const QString& path) const {
    return m_zip && m_index.contains(NormalisePath(path));
}

bool SkinArchive::ReadFile(const QString& path, QByteArray& data) const {
    data.clear();
    if (!m_zip) {
        return false;
    }
    const auto it = m_index.constFind(NormalisePath(path));
    if (it == m_index.constEnd()) {
        return false;
    }
    std::string bytes;
    if (!m_zip->Read(it.value(), bytes)) {
        return false;
    }
    data = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return true;
}

QPixmap SkinArchive::Pixmap(const QString& path) const {
    if (path.isEmpty()) {
        return {};
    }
    const QString key = NormalisePath(path);
    const auto cached = m_pixmaps.constFind(key);
    if (cached != m_pixmaps.constEnd()) {
        return cached.value();
    }
    QPixmap pixmap;
    QByteArray data;
    if (ReadFile(path, data)) {
        pixmap.loadFromData(data);
    }
    m_pixmaps.insert(key, pixmap);
    return pixmap;
}
