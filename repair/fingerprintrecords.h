#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Plain records of the fingerprint look-up.

// One release of a release group.
struct FingerprintRelease {
    qint16 trackCount = 0;
    QString year;
    QString position;  // the recording's position on the release
    QString id;  // the MusicBrainz release id
};

// One release group a recording appears in.
struct FingerprintReleaseGroup {
    QList<FingerprintRelease> releases;
    QString title;
    QString secondaryType;
    QString coverUrl;
};

// One (recording, release group) pair of a look-up result, on its way to becoming a candidate.
struct FingerprintMatch {
    QString position;
    QString title;
    qint64 duration = 0;  // whole seconds
    QString artist;
    QString album;
    QString year;
    QString coverUrl;
    QString resultId;
    qint64 score = 0;  // the result's score x 100
    qint16 trackCount = 0;
};
