#include "discogsapi.h"

#include "apppaths.h"
#include "json.h"
#include "repairfields.h"

#include <QDebug>
#include <QFileInfo>

namespace {

// The "Artist - Release title" of a result, split once at its first " - ": hyphens inside a name
// stay. A title without one has no album part.
void splitTitle(const QString &title, QString *artist, QString *album)
{
    const qsizetype at = title.indexOf(QLatin1String(" - "));
    *artist = (at < 0 ? title : title.left(at)).trimmed();
    *album = at < 0 ? QString() : title.mid(at + 3).trimmed();
}

QString textOf(const QVariant &value)
{
    // Lists and maps have no text of their own; a number gives its digits.
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QVariantMap)
        return QString();
    return value.toString();
}

}  // namespace

QList<DiscogsSearchResult> DiscogsApi::readSearchResults(const QByteArray &body, int *listed)
{
    bool parsed = false;
    const QVariant reply = Json::parse(QString::fromUtf8(body), parsed);
    QList<DiscogsSearchResult> accepted;
    if (!parsed || reply.typeId() != QMetaType::QVariantMap) {
        if (listed)
            *listed = -1;
        return accepted;
    }
    const QVariantList results = reply.toMap().value(QStringLiteral("results")).toList();
    if (listed)
        *listed = int(results.size());
    for (const QVariant &element : results) {
        // Every result is judged on its own values alone.
        const QVariantMap result = element.toMap();
        DiscogsSearchResult pending;
        pending.thumb = textOf(result.value(QStringLiteral("thumb"))).trimmed();
        const bool thumb = !pending.thumb.isEmpty() && !pending.thumb.contains(QLatin1String("record90.png"));
        QStringList formats;
        for (const QVariant &format : result.value(QStringLiteral("format")).toList())
            formats << textOf(format);
        const bool release = !formats.contains(QLatin1String("Promo"))
            && (formats.contains(QLatin1String("Album")) || formats.contains(QLatin1String("CD"))
                || formats.contains(QLatin1String("LP")) || formats.contains(QLatin1String("Compilation")));
        pending.year = clampCount(textOf(result.value(QStringLiteral("year"))).trimmed().toInt());
        QStringList genres;
        for (const QVariant &genre : result.value(QStringLiteral("genre")).toList()) {
            if (!textOf(genre).isEmpty())
                genres << textOf(genre);
        }
        pending.genre = genres.join(QLatin1Char(','));
        pending.title = textOf(result.value(QStringLiteral("title"))).trimmed();
        pending.id = textOf(result.value(QStringLiteral("id"))).trimmed();
        if (thumb && release && !pending.title.isEmpty() && !pending.id.isEmpty())
            accepted << pending;
    }
    return accepted;
}

void DiscogsApi::slot_parse(const WebResult &result)
{
    if (!result.ok) {
        qDebug() << "DiscogsApi Server Error" << result.error;
        m_failed = true;
        finish(currentTrack, false);
        return;
    }
    int listed = 0;
    searchResults = readSearchResults(result.body, &listed);
    if (listed <= 0 && separator != QLatin1String("&")) {
        // Nothing found: once more with the album and artist alone, unless that asks the same.
        const qsizetype strict = searchTerms(currentTrack, false).size();
        const qsizetype loose = searchTerms(currentTrack, true).size();
        separator = QStringLiteral("&");
        if (loose > 0 && loose < strict) {
            sendSearch();
            return;
        }
    }
    if (!matchResults()) {
        finish(currentTrack, false);
        return;
    }
    if (!currentTrack.hasCover)
        takeLocalCover();
    if (!currentTrack.hasTitle || !currentTrack.hasArtist || !currentTrack.hasAlbum || requestType == 1)
        requestRelease();
    else if (!currentTrack.hasCover)
        applyCoverResult();
    else
        finish(currentTrack, true);
}

// A cover of the matched album already cached, or the picture in the track's own file.
void DiscogsApi::takeLocalCover()
{
    const QString name = coverName();
    const AppPaths paths;
    if (!isRealText(name) || paths.sanitizeName(name).isEmpty())
        return;
    const QString path = paths.artworkCachePath(name);
    if (!QFileInfo(path).isFile() && QFileInfo(currentTrack.filepath).isFile())
        tagBuilder.extractCoverArt(path, currentTrack.filepath);
    if (QFileInfo(path).isFile()) {
        currentTrack.cover = path;
        currentTrack.hasCover = true;
    }
}

DiscogsCandidate DiscogsApi::rankResult(const DiscogsSearchResult &result, const track &t, qsizetype count)
{
    QString artistPart;
    QString albumPart;
    splitTitle(result.title, &artistPart, &albumPart);

    const QString album = t.albumname.trimmed();
    const bool haveAlbum = isRealText(album) && !albumPart.isEmpty();
    const bool albumEqual = haveAlbum && albumPart.compare(album, Qt::CaseInsensitive) == 0;
    const bool albumContained = haveAlbum && albumPart.contains(album, Qt::CaseInsensitive);
    const QString artist = t.artistname.trimmed();
    const bool artistHolds
        = isRealText(artist) && !artistPart.isEmpty() && artistPart.contains(artist, Qt::CaseInsensitive);
    const bool genreHolds
        = isRealText(t.genre) && result.genre.split(QLatin1Char(',')).contains(t.genre.trimmed());
    // Only known years agree: two results without one say nothing about each other.
    const bool yearHolds = t.year > 0 && result.year == t.year;

    qint64 level = 0;
    if (artistHolds && albumEqual)
        level = yearHolds ? (genreHolds ? 7 : 6) : 5;
    else if (!artistHolds && albumEqual && yearHolds)
        level = genreHolds ? 4 : 3;
    else if (artistHolds && !albumEqual && yearHolds && albumContained)
        level = 3;
    else if (!artistHolds && albumEqual && !yearHolds)
        level = genreHolds ? 2 : (count == 1 ? 1 : 0);

    DiscogsCandidate candidate;
    if (level > 0)
        candidate = {albumPart, artistPart, result.id, result.thumb, level};
    return candidate;
}

// The first result of the best level; a result of level 5 or more ends the search for one.
bool DiscogsApi::matchResults()
{
    if (searchResults.isEmpty()) {
        qDebug() << "Match Found Discogs ............................. " << false;
        return false;
    }
    DiscogsCandidate best;
    for (const DiscogsSearchResult &result : std::as_const(searchResults)) {
        const DiscogsCandidate candidate = rankResult(result, currentTrack, searchResults.size());
        if (candidate.level > best.level)
            best = candidate;
        if (candidate.level >= 5)
            break;
    }
    matchedAlbum = best.album;
    matchedArtist = best.artist;
    matchedCoverUrl = best.coverUrl;
    matchedReleaseId = best.releaseId;
    const bool found = best.level > 0 && !matchedAlbum.isEmpty() && !matchedArtist.isEmpty();
    qDebug() << "Match Found Discogs ............................. " << found;
    return found;
}
