#include "artworkindex.h"

#include <QDir>
#include <QFileInfo>

QString ArtworkIndex::pathFor(const QString &album) const
{
    if (m_paths.sanitizeName(album).isEmpty())
        return QString();
    return QDir::fromNativeSeparators(m_paths.artworkCachePath(album));
}

QString ArtworkIndex::find(const QString &album)
{
    const QString exact = pathFor(album);
    if (exact.isEmpty())
        return QString();
    if (QFileInfo(exact).isFile())
        return exact;

    // Another spelling of the name: looked up in a listing of the folder, read once and again only
    // when the folder has changed, so a miss costs one stat.
    const QFileInfo file(exact);
    refresh(file.absolutePath());
    const auto found = m_names.constFind(file.fileName().toCaseFolded());
    if (found == m_names.cend())
        return QString();
    const QString path = file.absolutePath() + QLatin1Char('/') + *found;
    return QFileInfo(path).isFile() ? path : QString();
}

void ArtworkIndex::refresh(const QString &folder)
{
    const QDateTime stamp = QFileInfo(folder).lastModified();
    if (m_loaded && stamp == m_stamp)
        return;
    m_loaded = true;
    m_stamp = stamp;
    m_names.clear();
    const QStringList names
        = QDir(folder).entryList({QStringLiteral("*.png"), QStringLiteral("*.PNG")}, QDir::Files, QDir::Name);
    for (const QString &name : names)
        m_names.insert(name.toCaseFolded(), name);
}
