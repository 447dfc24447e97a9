#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <string>

class QIODevice;

// What the in-car system of the chosen vehicle can play and store, filled from the embedded
// systems list. Each member is named after the attribute that fills it.

struct ImageFormat {
    std::string name;
    std::string extension;  // comma-separated, e.g. "jpeg,jpg"
};

struct AlbumArtInfo {
    bool supported = false;
    int sizeX = 0;
    int sizeY = 0;
    std::string format;
    std::string extension;
    QList<ImageFormat> formats;
};

struct AudioCodec {
    std::string name;  // the codec name ffprobe prints ("mp3", "aac", "wmav2", "flac")
    std::string extension;
    std::string description;
};

struct AudioInfo {
    quint32 bitrate = 0;  // bit/s
    int maxBitrate = 0;
    int samplingFrequency = 0;  // Hz
    int maxSamplingFrequency = 0;
    std::string codec;  // recommended codec incompatible files are transcoded to
    std::string extension;
    QList<AudioCodec> codecs;
};

struct VideoCodec {
    std::string name;
    quint32 level = 0;
    quint32 width = 0;
    quint32 height = 0;
    std::string acodec;
    std::string profile;
    std::string extension;
    std::string description;
    quint32 bitrate = 0;
    quint32 maxBitrate = 0;
    quint32 samplingFrequency = 0;
    quint32 maxSamplingFrequency = 0;
};

struct VideoInfo {
    bool supported = false;
    QList<VideoCodec> codecs;
};

struct FilingSystemInfo {
    std::string name;
    int maxFiles = 0;
    quint32 maxFileSize = 0;
    quint32 maxPartitions = 0;
    quint32 maxPartitionSize = 0;
    quint32 maxFilesPerFolder = 0;
};

struct FilingSystemsInfo {
    quint32 filingSystemNumber = 0;  // the recommended name read as a number: 0 for a name
    std::string filingSystem;  // recommended, e.g. "MS-DOS FAT32"
    QList<FilingSystemInfo> list;
};

struct PlaylistFormat {
    std::string name;
    std::string extension;
};

struct PlaylistsInfo {
    bool supported = false;
    QList<PlaylistFormat> list;
};

struct SystemInfo {
    std::string name;
    QString vehicle;  // names the drive's media root "<vehicle> Media/"
    AlbumArtInfo albumArt;
    AudioInfo audio;
    VideoInfo video;
    FilingSystemsInfo filingSystems;
    PlaylistsInfo playlists;
};

// One vehicle of the selection list.
struct VehicleEntry {
    QString brand;
    QString name;  // the text the user sees and the drive folder is named after
    int firstYear = 0;
    int lastYear = 0;
    QString system;  // the in-car system's name in the systems list
};

// Makes the embedded resources of this static library available (idempotent, thread-safe).
void initKivoResources();

// The record of the chosen vehicle's system; one per process, never null.
SystemInfo *systemInfo();

// A copy of systemInfo() taken under the lock its refill holds, so it is never half-made: what
// a job reads, since a vehicle may be chosen while it runs.
SystemInfo systemInfoCopy();

// Refills systemInfo() for the vehicle's system and sets its `vehicle`. On an unknown vehicle,
// a missing system or an unreadable list it logs why, returns false and leaves the record empty.
bool loadSystemInfo(const QString &vehicleName);

// Every vehicle of the embedded vehicles list in document order; empty when it cannot be read.
QList<VehicleEntry> vehicleList();
// The system of the named vehicle; "" when the vehicle is not listed.
QString systemNameForVehicle(const QString &vehicleName);
// The brands, the vehicles of a brand, and the model years offered for a vehicle (oldest first).
QStringList vehicleBrands();
QStringList vehicleNames(const QString &brand);
QStringList vehicleModelYears(const QString &vehicleName);

// Reads the system named `systemName` from a systems document into `out` (reset first).
// False, with `error` set, when the system is not there or the document is malformed.
bool readSystemInfo(QIODevice *device, const QString &systemName, SystemInfo *out, QString *error = nullptr);
// Reads a vehicles document; false, with `error` set, when it is malformed.
bool readVehicleList(QIODevice *device, QList<VehicleEntry> *out, QString *error = nullptr);
