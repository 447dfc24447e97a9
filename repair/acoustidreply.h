#pragma once

#include "fingerprintrecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

class QXmlStreamReader;

// An AcoustID look-up reply (version 2, XML): every (recording, release group) pair of every
// result, each with the score of its own result. Elements are read where they belong (a
// release's id is never a track's), and nothing of one result, recording or group reaches the next.
class AcoustIdReply
{
public:
    // `coverService` is the large-cover service's address; a group's cover is asked for there by
    // the MusicBrainz id of its first release.
    static AcoustIdReply parse(const QByteArray &xml, const QUrl &coverService);
    static QUrl coverAddress(const QUrl &coverService, const QString &releaseId);

    bool ok = false;  // well-formed, with the status "ok"
    QString error;
    QList<FingerprintMatch> matches;

private:
    void readResult(QXmlStreamReader &xml, const QUrl &coverService);
    static void readRecording(QXmlStreamReader &xml, FingerprintMatch &match,
        QList<FingerprintReleaseGroup> &groups, const QUrl &coverService);
    static FingerprintReleaseGroup readReleaseGroup(QXmlStreamReader &xml, const QUrl &coverService);
    static FingerprintRelease readRelease(QXmlStreamReader &xml);
    static QString readArtists(QXmlStreamReader &xml);
};
