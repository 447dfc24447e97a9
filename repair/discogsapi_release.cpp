#include "discogsapi.h"

#include "applog.h"
#include "json.h"
#include "repairfields.h"

#include <QDebug>
#include <QRegularExpression>

namespace {

QString textOf(const QVariant &value)
{
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QVariantMap)
        return QString();
    return value.toString().trimmed();
}

// "A1", "B2": lettered positions count on from the entry before; a number stands for itself.
qint16 positionNumber(const QString &position, qint16 counter)
{
    if (!position.isEmpty() && position.at(0) >= QLatin1Char('A') && position.at(0) <= QLatin1Char('Z'))
        return clampCount(qint64(counter) + 1);
    bool ok = false;
    const qint64 number = position.toLongLong(&ok, 10);
    return ok ? clampCount(number) : qint16(0);
}

// "m:ss" or "h:mm:ss", or plain seconds; 0 when it does not read.
qint64 durationSeconds(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (text.isEmpty() || parts.size() > 3)
        return 0;
    qint64 seconds = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const qint64 value = part.trimmed().toLongLong(&ok, 10);
        if (!ok || value < 0 || value > 100000)
            return 0;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

// Discogs tells apart artists of one name by a number: "Aster (2)" is the artist Aster.
QString artistName(const QString &name)
{
    static const QRegularExpression number(QStringLiteral("\\s*\\(\\d+\\)$"));
    return QString(name).remove(number).trimmed();
}

}  // namespace

QList<DiscogsReleaseInfo> DiscogsApi::readRelease(const QByteArray &body)
{
    bool parsed = false;
    const QVariant reply = Json::parse(QString::fromUtf8(body), parsed);
    QList<DiscogsReleaseInfo> entries;
    if (!parsed || reply.typeId() != QMetaType::QVariantMap)
        return entries;
    const QVariantMap release = reply.toMap();

    DiscogsReleaseInfo common;
    common.year = clampCount(textOf(release.value(QStringLiteral("year"))).toInt());
    // The credit written out: each artist, joined to the one before by that one's "join".
    QString join;
    for (const QVariant &element : release.value(QStringLiteral("artists")).toList()) {
        const QVariantMap artist = element.toMap();
        const QString name = artistName(textOf(artist.value(QStringLiteral("name"))));
        if (name.isEmpty())
            continue;
        if (!common.artist.isEmpty())
            common.artist += join.isEmpty() || join == QLatin1String(",")
                ? QStringLiteral(", ")
                : QLatin1Char(' ') + join + QLatin1Char(' ');
        common.artist += name;
        join = textOf(artist.value(QStringLiteral("join")));
    }
    for (const QVariant &element : release.value(QStringLiteral("genres")).toList()) {
        const QString genre = textOf(element).section(QLatin1Char(','), 0, 0).trimmed();
        if (!genre.isEmpty()) {
            common.genre = genre;
            break;
        }
    }
    common.album = textOf(release.value(QStringLiteral("title")));

    qint16 counter = 0;
    for (const QVariant &element : release.value(QStringLiteral("tracklist")).toList()) {
        const QVariantMap item = element.toMap();
        if (textOf(item.value(QStringLiteral("type_"))) == QLatin1String("heading"))
            continue;  // a side or part name, not a track
        DiscogsReleaseInfo entry = common;
        entry.duration = durationSeconds(textOf(item.value(QStringLiteral("duration"))));
        if (item.contains(QStringLiteral("position"))) {
            counter = positionNumber(textOf(item.value(QStringLiteral("position"))), counter);
            entry.trackNumber = counter;
        }
        entry.title = textOf(item.value(QStringLiteral("title")));
        if (!entry.title.isEmpty())
            entries << entry;
    }
    return entries;
}

void DiscogsApi::slot_parse_search_response_SecondApi(const WebResult &result)
{
    releaseTracks.clear();
    if (!result.ok) {
        qDebug() << "Discogs release request failed:" << result.error;
        m_failed = true;
        finish(currentTrack, m_filled);
        return;
    }
    releaseTracks = readRelease(result.body);
    m_releaseRead = true;
    applyRelease();
}

// The track takes what it lacks from the one entry that fits it: on the track's album when it has
// one, of a close length when both are known, of the same title when the track has one, and
// agreeing on its title, its number or its length. Two entries that fit equally well give nothing.
void DiscogsApi::applyRelease()
{
    track &t = currentTrack;
    const DiscogsReleaseInfo *match = nullptr;
    bool tied = false;
    int bestAgreeing = 0;
    const bool knownTitle = isRealTitle(t.trackname);
    for (const DiscogsReleaseInfo &entry : std::as_const(releaseTracks)) {
        if (!albumFits(t, entry.album) || !lengthsFit(t.duration, double(entry.duration)))
            continue;
        const bool title = knownTitle && comparableName(entry.title).contains(comparableName(t.trackname));
        if (knownTitle && !title)
            continue;
        const bool number = t.tracknumber > 0 && entry.trackNumber == t.tracknumber;
        const bool length = t.duration > 0 && entry.duration > 0;
        const int agreeing = int(title) * 4 + int(number) * 2 + int(length);
        if (agreeing == 0)
            continue;
        if (agreeing > bestAgreeing) {
            match = &entry;
            bestAgreeing = agreeing;
            tied = false;
        } else if (agreeing == bestAgreeing && comparableName(entry.title) != comparableName(match->title)) {
            tied = true;
        }
    }
    if (tied)
        match = nullptr;
    if (match) {
        writeLog(appLogFile(), QStringLiteral("Discogs Api - ") + t.originalPath, QString());
        const track before = t;
        if (!isRealTitle(t.trackname) && isRealTitle(match->title))
            t.trackname = match->title;
        if (!isRealText(t.albumname) && isRealText(match->album))
            t.albumname = match->album;
        if (!isRealText(t.artistname) && isRealText(match->artist))
            t.artistname = match->artist;
        if (!isRealText(t.genre) && isRealText(match->genre))
            t.genre = match->genre;
        if (t.year == 0 && match->year > 0)
            t.year = match->year;
        if (t.tracknumber == 0 && match->trackNumber > 0)
            t.tracknumber = match->trackNumber;
        // A flag says a value is known only when it is.
        t.hasTitle = isRealTitle(t.trackname);
        t.hasAlbum = isRealText(t.albumname);
        t.hasArtist = isRealText(t.artistname);
        m_filled = m_filled || t.trackname != before.trackname || t.albumname != before.albumname
            || t.artistname != before.artistname || t.genre != before.genre || t.year != before.year
            || t.tracknumber != before.tracknumber;
    }
    if (t.hasCover)
        finish(t, m_filled);
    else
        applyCoverResult();
}

void DiscogsApi::applyCoverResult()
{
    if (!matchedCoverUrl.isEmpty() && !matchedCoverUrl.contains(QLatin1String("record")))
        downloadCover(matchedCoverUrl, coverName());
    else
        finish(currentTrack, m_filled);
}

// Covers are named by the track's album when it has one, so the run finds them under it.
QString DiscogsApi::coverName() const
{
    return isRealText(currentTrack.albumname) ? currentTrack.albumname.trimmed() : matchedAlbum;
}
