#pragma once

#include "fatimage.h"
#include "ffmpeghandler.h"
#include "mediagen.h"
#include "systeminfo.h"
#include "track.h"
#include "transferdetail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

// What the transfer tests onto a drive share: the request, and files put and read back.
namespace drivefixtures {

// A car that plays mp3 as it is.
inline SystemInfo mp3System()
{
    SystemInfo system;
    QFile xml(":resources/xml/systems.xml");
    if (xml.open(QIODevice::ReadOnly))
        readSystemInfo(&xml, "CMS-1100", &system);
    system.vehicle = "Example";
    return system;
}

inline transferDetail requestFor(const QString &target)
{
    transferDetail d;
    d.destination = target;
    d.availableSpace = 1LL << 40;
    d.systemInfo = mp3System();
    return d;
}

inline QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool put(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A short song at `path` with its track number, and a disc ("2" and "/2") where given.
inline QString makeSong(const QString &path, int track, int disc = 0, const QString &total = {})
{
    MediaAudio audio;
    audio.seconds = 0.3;
    audio.sampleRate = 22050;
    audio.tags.insert("track", QString::number(track));
    if (disc > 0)
        audio.tags.insert("disc", QString::number(disc) + total);
    const QString error = MediaGen::makeAudio(path, audio);
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    return path;
}

// A song of `folder` by that name, made on its first use.
inline QString songIn(const QString &folder, const QString &name, int track)
{
    const QString path = folder + "/" + name;
    return QFileInfo::exists(path) ? path : makeSong(path, track);
}

// One run of `tracks` onto the FAT image, mounted at `mount` meanwhile; an empty report when it
// cannot be mounted.
inline TransferReport transferOnto(const QString &image, const QString &mount, const TrackMap &tracks)
{
    if (!fatimage::mount(image, mount))
        return {};
    ffmpeghandler handler;
    const TransferReport report = handler.transferTracks(tracks, requestFor(mount));
    fatimage::unmount(mount);
    return report;
}

// A track of the library as a transfer takes it.
inline track trackOf(
    qint64 id, const QString &path, const QString &album, const QString &playlist = {}, bool video = false)
{
    track t;
    t.id = id;
    t.filepath = path;
    t.albumname = album;
    t.playlist = playlist;
    t.isVideo = video;
    return t;
}

}  // namespace drivefixtures
