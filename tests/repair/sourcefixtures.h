#pragma once

// Replies of the repair's web services as they answer them, and small helpers, for the sources'
// tests.

#include "replayserver.h"
#include "testenv.h"

#include <QByteArray>
#include <QFile>
#include <QUrlQuery>
#include <QVariant>

// JSON written with single quotes, so it reads without escapes.
inline QByteArray J(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

inline QByteArray mbReply(const QByteArray &recordings)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<metadata xmlns=\"http://musicbrainz.org/ns/mmd-2.0#\"><recording-list>"
        + recordings + "</recording-list></metadata>";
}

inline QByteArray mbRecording(
    const QByteArray &title, int ms, const QByteArray &artist, const QByteArray &release = "Elsewhere")
{
    return "<recording><title>" + title + "</title><length>" + QByteArray::number(ms)
        + "</length><artist-credit><name-credit><artist><name>" + artist
        + "</name></artist></name-credit></artist-credit><release-list><release><title>" + release
        + "</title>"
          "<artist-credit><name-credit><artist><name>Other</name></artist></name-credit></artist-credit>"
          "</release></release-list></recording>";
}

inline const QByteArray kSearchReply = J(
    "{'pagination': {'items': 4}, 'results': ["
    "  {'title': 'Åster - Fields & Woods', 'id': 1001, 'thumb': 'THUMB', 'format': ['CD', 'Promo']},"
    "  {'title': 'No separator at all', 'id': 1002, 'thumb': 'THUMB', 'format': ['CD']},"
    "  {'title': 'Åster - Fields & Woods', 'id': 1003, 'thumb': 'http://x/record90.png', 'format': ['CD']},"
    "  {'title': 'Jean-Luc Åster - Fields & Woods', 'id': 1004, 'thumb': 'THUMB', 'year': '1999',"
    "   'format': ['Vinyl', 'LP', 'Album'], 'genre': ['Rock', 'Pop']}]}");

inline const QByteArray kReleaseReply
    = J("{'title': 'Fields & Woods', 'year': 1999, 'genres': ['Rock, Pop'],"
        "  'artists': [{'name': 'Jean-Luc Åster (2)', 'join': ''}],"
        "  'tracklist': [{'position': 'A1', 'title': 'Opening', 'duration': '3:45'},"
        "    {'position': 'A2', 'title': 'Dawn', 'duration': '4:05'},"
        "    {'position': '', 'type_': 'heading', 'title': 'Side B'},"
        "    {'position': 'B1', 'title': 'Dusk', 'duration': '1:02:03'}]}");

// An AcoustID look-up: two recordings, the first in two release groups (its track position
// on the release, not another track's id or title, counts), the second in one, all scored once.
inline const QByteArray kLookupReply
    = "<?xml version='1.0' encoding='UTF-8'?><response><status>ok</status><results><result>"
      "<id>res-1</id><recordings><recording>"
      "<artists><artist><name>Åster</name><joinphrase> &amp; </joinphrase></artist>"
      "<artist><name>Kai</name></artist></artists><duration>215.7</duration>"
      "<releasegroups><releasegroup><releases><release><date><year>2001</year></date><id>rel-a</id>"
      "<mediums><medium><tracks><track><id>trk-x</id><position>3</position><title>Wrong</title></track>"
      "</tracks></medium></mediums><track_count>12</track_count></release></releases>"
      "<title>Northern Fields</title></releasegroup><releasegroup><title>Best Of</title></releasegroup>"
      "</releasegroups><title>Dawn</title></recording>"
      "<recording><title>Dawn (live)</title><releasegroups><releasegroup><title>Live</title></releasegroup>"
      "</releasegroups></recording></recordings><score>0.9876</score></result></results></response>";

// JSON values written out with their types: u unsigned, i signed, d double, "" string, - null.
inline QString render(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::QVariantMap: {
        QStringList members;
        const QVariantMap map = v.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            members << it.key() + ':' + render(it.value());
        return '{' + members.join(',') + '}';
    }
    case QMetaType::QVariantList: {
        QStringList items;
        for (const QVariant &item : v.toList())
            items << render(item);
        return '[' + items.join(',') + ']';
    }
    case QMetaType::QString:
        return '"' + v.toString().replace(QChar(0), "\\0") + '"';
    case QMetaType::ULongLong:
        return v.toString() + 'u';
    case QMetaType::LongLong:
        return v.toString() + 'i';
    case QMetaType::Double:
        return v.toString() + 'd';
    case QMetaType::Bool:
        return v.toBool() ? "true" : "false";
    default:
        return v.isValid() ? "?" : "-";
    }
}

inline QByteArray queryValue(const RecordedRequest &request, const QString &key)
{
    return QUrlQuery(QString::fromLatin1(request.query())).queryItemValue(key, QUrl::FullyDecoded).toUtf8();
}

inline QString writeScript(const TestEnv &env, const QString &name, const QString &body)
{
    const QString path = env.makePath("tools/" + name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + body.toUtf8() + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}
