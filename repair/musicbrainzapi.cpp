#include "musicbrainzapi.h"

#include "applog.h"
#include "repairfields.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QXmlStreamReader>

#include <cmath>

namespace {

// A Lucene phrase: the service reads the whole text as one term, whatever it holds.
QString phrase(const QString &text)
{
    QString escaped = text.trimmed();
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Both names known and one holding the other, ignoring case: a bracketed suffix or a credit of
// several artists still agrees, an empty name never does.
bool namesAgree(const QString &asked, const QString &answered)
{
    const QString a = asked.trimmed();
    const QString b = answered.trimmed();
    if (!isRealText(a) || !isRealText(b))
        return false;
    return a.contains(b, Qt::CaseInsensitive) || b.contains(a, Qt::CaseInsensitive);
}

}  // namespace

MusicBrainzApi::MusicBrainzApi(const WebServiceConfig &config)
    : m_config(config)
    , networkManager(new QNetworkAccessManager(this))
{ }

MusicBrainzApi::~MusicBrainzApi()
{
    if (searchReply)
        searchReply->abort();
}

QUrl MusicBrainzApi::searchAddress(const track &t, const QUrl &endpoint)
{
    const bool artist = t.hasArtist && isRealText(t.artistname);
    const bool album = t.hasAlbum && isRealText(t.albumname);
    const bool title = t.hasTitle && isRealTitle(t.trackname);
    if (endpoint.isEmpty() || !artist || album == title) {
        // Without an artist the service was asked for releases, whose answers were never read;
        // with every name known, or with none, there is nothing to ask.
        return QUrl();
    }
    const QString query = (album ? QStringLiteral("release:") + phrase(t.albumname)
                                 : QStringLiteral("recording:") + phrase(t.trackname))
        + QStringLiteral(" AND artist:") + phrase(t.artistname);
    QUrl url = endpoint;
    url.setQuery(
        QStringLiteral("query=") + QString::fromLatin1(QUrl::toPercentEncoding(query)), QUrl::StrictMode);
    return url;
}

void MusicBrainzApi::searchTrack(track t)
{
    if (searchReply) {
        searchReply->abort();
        searchReply->deleteLater();
    }
    t.fingerprintRequested = false;
    requestTrack = t;
    resultTrack = t;
    matchCount = 0;
    const QUrl address = searchAddress(
        t, m_config.endpoint(WebServiceConfig::Service::MusicBrainz, QStringLiteral("/ws/2/recording")));
    if (address.isEmpty()) {
        report(requestTrack);
        return;
    }
    sendRequest(address.toString(QUrl::FullyEncoded));
}

void MusicBrainzApi::sendRequest(const QString &address)
{
    WebRequest::Options options;
    options.intervalMs = m_config.musicBrainzIntervalMs;
    options.timeoutMs = m_config.timeoutMs;
    options.headers.append({QByteArrayLiteral("Accept"), QByteArrayLiteral("application/xml")});
    options.cache = m_replies;
    searchReply = new WebRequest(
        networkManager, QUrl::fromEncoded(address.toUtf8(), QUrl::StrictMode), options, this);
    connect(searchReply, &WebRequest::finished, this, &MusicBrainzApi::onReplyFinishedMusicBrainz);
    searchReply->start();
}

void MusicBrainzApi::CancelRequestTimeout()
{
    if (!searchReply)
        return;
    searchReply->abort();
    searchReply->deleteLater();
    report(requestTrack);
}

void MusicBrainzApi::onReplyFinishedMusicBrainz(const WebResult &result)
{
    if (searchReply)
        searchReply->deleteLater();
    if (!result.ok) {
        qDebug() << "MusicBrainz request failed:" << result.error;
        report(requestTrack);
        return;
    }
    const Reply reply = parseReply(result.body);
    if (!reply.wellFormed) {
        qDebug() << "MusicBrainz reply is not well-formed XML";
        report(requestTrack);
        return;
    }
    applyMatch(reply.recordings);
}

MusicBrainzApi::Reply MusicBrainzApi::parseReply(const QByteArray &xml)
{
    Reply reply;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("recording")) {
            Recording recording;
            readRecording(reader, recording);
            reply.recordings.append(recording);
        }
    }
    reply.wellFormed = !reader.hasError();
    return reply;
}

// One recording, from its start to its end: every value comes from this recording alone.
void MusicBrainzApi::readRecording(QXmlStreamReader &xml, Recording &recording)
{
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QLatin1String("title")) {
            recording.title = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (name == QLatin1String("length")) {
            bool ok = false;
            const qint64 ms = xml.readElementText().trimmed().toLongLong(&ok);
            recording.lengthMs = ok && ms > 0 ? ms : 0;
        } else if (name == QLatin1String("artist-credit")) {
            QString credit;
            while (xml.readNextStartElement()) {
                if (xml.name() != QLatin1String("name-credit")) {
                    xml.skipCurrentElement();
                    continue;
                }
                const QString join = xml.attributes().value(QLatin1String("joinphrase")).toString();
                QString credited;
                QString artist;
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("name"))
                        credited = xml.readElementText();
                    else if (xml.name() == QLatin1String("artist"))
                        readArtist(xml, artist);
                    else
                        xml.skipCurrentElement();
                }
                credit += (credited.isEmpty() ? artist : credited) + join;
            }
            recording.artist = credit.trimmed();
        } else if (name == QLatin1String("release-list") || name == QLatin1String("release")) {
            if (name == QLatin1String("release-list"))
                readReleases(xml, recording.albums);
            else
                xml.skipCurrentElement();
        } else {
            xml.skipCurrentElement();
        }
    }
}

void MusicBrainzApi::readArtist(QXmlStreamReader &xml, QString &name)
{
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("name"))
            name = xml.readElementText();
        else
            xml.skipCurrentElement();
    }
}

// The releases a recording appears on: only their titles and their groups' titles are kept, as
// albums the recording belongs to (their artists are not the recording's).
void MusicBrainzApi::readReleases(QXmlStreamReader &xml, QStringList &albums)
{
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("release")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("title")) {
                albums << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            } else if (xml.name() == QLatin1String("release-group")) {
                while (xml.readNextStartElement()) {
                    if (xml.name() == QLatin1String("title"))
                        albums << xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                    else
                        xml.skipCurrentElement();
                }
            } else {
                xml.skipCurrentElement();
            }
        }
    }
}

// The number of names of the track that agree with the recording. The album was part of the
// query, so a recording found by album agrees on it; the artist and the title must agree by name.
qint16 MusicBrainzApi::agreeingNames(const Recording &recording) const
{
    qint16 count = 0;
    if (requestTrack.hasAlbum && isRealText(requestTrack.albumname))
        ++count;
    if (requestTrack.hasArtist && namesAgree(requestTrack.artistname, recording.artist))
        ++count;
    if (requestTrack.hasTitle && isRealTitle(requestTrack.trackname)
        && namesAgree(requestTrack.trackname, recording.title))
        ++count;
    return count;
}

// The recording may be the track's: its length within the tolerance when both are known, and one
// of its releases the track's album when the track has one.
bool MusicBrainzApi::fits(const Recording &recording) const
{
    if (!lengthsFit(requestTrack.duration, recording.lengthMs / 1000.0))
        return false;
    if (!requestTrack.hasAlbum || !isRealText(requestTrack.albumname))
        return true;
    for (const QString &album : recording.albums) {
        if (albumFits(requestTrack, album))
            return true;
    }
    return false;
}

// Of the recordings whose names agree and that fit, the one closest in length; when another
// recording of a different title is as close, neither: a wrong title is worse than none.
void MusicBrainzApi::applyMatch(const QList<Recording> &recordings)
{
    matchCount = 0;
    const Recording *chosen = nullptr;
    bool tied = false;
    qint64 chosenGap = 0;
    const auto gapOf = [this](const Recording &r) {
        if (!(requestTrack.duration > 0) || r.lengthMs <= 0)
            return qint64(0);
        return qint64(std::llround(std::abs(requestTrack.duration - r.lengthMs / 1000.0)));
    };
    for (const Recording &recording : recordings) {
        const qint16 agreeing = agreeingNames(recording);
        if (agreeing < 2 || !fits(recording))
            continue;
        const qint64 gap = gapOf(recording);
        if (!chosen || agreeing > matchCount || (agreeing == matchCount && gap < chosenGap)) {
            chosen = &recording;
            matchCount = agreeing;
            chosenGap = gap;
            tied = false;
        } else if (agreeing == matchCount && gap == chosenGap
            && comparableName(recording.title) != comparableName(chosen->title)) {
            tied = true;
        }
    }
    if (!chosen || tied) {
        matchCount = 0;
        report(requestTrack);
        return;
    }
    if (isRealTitle(chosen->title) && !(requestTrack.hasTitle && isRealTitle(requestTrack.trackname))) {
        resultTrack.trackname = chosen->title.trimmed();
        resultTrack.hasTitle = true;
    }
    // The file's own measured length stays.
    if (chosen->lengthMs > 0 && !(resultTrack.duration > 0))
        resultTrack.duration = chosen->lengthMs / 1000.0;
    if (isRealText(chosen->artist) && !(requestTrack.hasArtist && isRealText(requestTrack.artistname))) {
        resultTrack.artistname = chosen->artist.trimmed();
        resultTrack.hasArtist = true;
    }
    writeLog(appLogFile(), QStringLiteral("Musicbrainz Api - ") + resultTrack.originalPath, QString());
    report(resultTrack);
}

void MusicBrainzApi::report(const track &t)
{
    emit MusicBrainzfinished(t, kSourceId, false);
}
