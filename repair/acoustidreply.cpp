#include "acoustidreply.h"

#include <QXmlStreamReader>

#include <cmath>

namespace {

bool isNamed(const QXmlStreamReader &xml, const char *name)
{
    return xml.name() == QLatin1String(name);
}

QString text(QXmlStreamReader &xml)
{
    return xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
}

// The first child named `name` of each child of the element the reader is in.
template <class Read> void eachChild(QXmlStreamReader &xml, const char *name, Read read)
{
    while (xml.readNextStartElement()) {
        if (isNamed(xml, name))
            read();
        else
            xml.skipCurrentElement();
    }
}

qint64 truncated(double value)
{
    return std::isfinite(value) && std::fabs(value) < 1e15 ? qint64(std::trunc(value)) : 0;
}

}  // namespace

AcoustIdReply AcoustIdReply::parse(const QByteArray &xml, const QUrl &coverService)
{
    AcoustIdReply reply;
    QXmlStreamReader reader(xml);
    QString status;
    if (reader.readNextStartElement() && isNamed(reader, "response")) {
        while (reader.readNextStartElement()) {
            if (isNamed(reader, "status")) {
                status = text(reader);
            } else if (isNamed(reader, "results")) {
                eachChild(reader, "result", [&] { reply.readResult(reader, coverService); });
            } else if (isNamed(reader, "error")) {
                reply.error = reader.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
            } else {
                reader.skipCurrentElement();
            }
        }
    }
    if (!reader.hasError()) {
        while (!reader.atEnd())
            reader.readNext();
    }
    if (reader.hasError()) {
        reply.error = QStringLiteral("not well-formed: ") + reader.errorString();
    } else if (status != QLatin1String("ok")) {
        if (reply.error.isEmpty())
            reply.error = QStringLiteral("status \"%1\"").arg(status);
    } else {
        reply.ok = true;
        return reply;
    }
    reply.matches.clear();
    return reply;
}

QUrl AcoustIdReply::coverAddress(const QUrl &coverService, const QString &releaseId)
{
    if (coverService.isEmpty() || releaseId.isEmpty())
        return QUrl();
    QUrl url = coverService;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + QStringLiteral("/art/mbidlarge.php"));
    url.setQuery(
        QStringLiteral("mbid=") + QString::fromLatin1(QUrl::toPercentEncoding(releaseId)), QUrl::StrictMode);
    return url;
}

void AcoustIdReply::readResult(QXmlStreamReader &xml, const QUrl &coverService)
{
    QString id;
    double score = 0;
    QList<FingerprintMatch> found;
    while (xml.readNextStartElement()) {
        if (isNamed(xml, "id")) {
            id = text(xml);
        } else if (isNamed(xml, "score")) {
            bool ok = false;
            score = text(xml).toDouble(&ok);
            score = ok ? score : 0;
        } else if (isNamed(xml, "recordings")) {
            eachChild(xml, "recording", [&] {
                FingerprintMatch match;
                QList<FingerprintReleaseGroup> groups;
                readRecording(xml, match, groups, coverService);
                // One match per release group; a recording without one names no album.
                for (const FingerprintReleaseGroup &group : std::as_const(groups)) {
                    FingerprintMatch pair = match;
                    if (!group.releases.isEmpty()) {
                        pair.position = group.releases.first().position;
                        pair.year = group.releases.first().year;
                        pair.trackCount = group.releases.first().trackCount;
                    }
                    pair.coverUrl = group.coverUrl;
                    pair.album = group.title;
                    found << pair;
                }
            });
        } else {
            xml.skipCurrentElement();
        }
    }
    for (FingerprintMatch &match : found) {
        match.resultId = id;
        match.score = truncated(score * 100.0);
        matches << match;
    }
}

void AcoustIdReply::readRecording(QXmlStreamReader &xml, FingerprintMatch &match,
    QList<FingerprintReleaseGroup> &groups, const QUrl &coverService)
{
    while (xml.readNextStartElement()) {
        if (isNamed(xml, "title")) {
            match.title = text(xml);
        } else if (isNamed(xml, "duration")) {
            bool ok = false;
            const double seconds = text(xml).toDouble(&ok);
            match.duration = ok && seconds > 0 ? truncated(seconds) : 0;
        } else if (isNamed(xml, "artists")) {
            match.artist = readArtists(xml);
        } else if (isNamed(xml, "releasegroups")) {
            eachChild(xml, "releasegroup", [&] { groups << readReleaseGroup(xml, coverService); });
        } else {
            xml.skipCurrentElement();
        }
    }
}

// The credit written out: each artist's name and the phrase that joins it to the next.
QString AcoustIdReply::readArtists(QXmlStreamReader &xml)
{
    QString credit;
    eachChild(xml, "artist", [&] {
        QString name;
        QString join;
        while (xml.readNextStartElement()) {
            if (isNamed(xml, "name"))
                name = text(xml);
            else if (isNamed(xml, "joinphrase"))
                join = xml.readElementText(QXmlStreamReader::SkipChildElements);
            else
                xml.skipCurrentElement();
        }
        if (!name.isEmpty())
            credit += name + (join.isEmpty() ? QStringLiteral("; ") : join);
    });
    credit = credit.trimmed();
    if (credit.endsWith(QLatin1Char(';')))
        credit.chop(1);
    return credit.trimmed();
}

FingerprintReleaseGroup AcoustIdReply::readReleaseGroup(QXmlStreamReader &xml, const QUrl &coverService)
{
    FingerprintReleaseGroup group;
    while (xml.readNextStartElement()) {
        if (isNamed(xml, "title")) {
            group.title = text(xml);
        } else if (isNamed(xml, "secondarytypes")) {
            eachChild(xml, "secondarytype", [&] { group.secondaryType = text(xml); });
        } else if (isNamed(xml, "releases")) {
            eachChild(xml, "release", [&] { group.releases << readRelease(xml); });
        } else {
            xml.skipCurrentElement();
        }
    }
    // The cover of the release the other values come from.
    if (!group.releases.isEmpty())
        group.coverUrl = coverAddress(coverService, group.releases.first().id).toString(QUrl::FullyEncoded);
    return group;
}

FingerprintRelease AcoustIdReply::readRelease(QXmlStreamReader &xml)
{
    FingerprintRelease release;
    while (xml.readNextStartElement()) {
        if (isNamed(xml, "id")) {
            release.id = text(xml);
        } else if (isNamed(xml, "track_count")) {
            release.trackCount = qint16(qBound(0, text(xml).toInt(), 32767));
        } else if (isNamed(xml, "date")) {
            eachChild(xml, "year", [&] { release.year = text(xml); });
        } else if (isNamed(xml, "mediums")) {
            // The recording's position: the first track listed on the release's media.
            eachChild(xml, "medium", [&] {
                while (xml.readNextStartElement()) {
                    if (!isNamed(xml, "tracks")) {
                        xml.skipCurrentElement();
                        continue;
                    }
                    eachChild(xml, "track", [&] {
                        while (xml.readNextStartElement()) {
                            if (isNamed(xml, "position") && release.position.isEmpty())
                                release.position = text(xml);
                            else
                                xml.skipCurrentElement();
                        }
                    });
                }
            });
        } else {
            xml.skipCurrentElement();
        }
    }
    return release;
}
