#pragma once

#include <QByteArray>
#include <QString>

struct tagInfo;

// What ffprobe finds in a media file.
struct ProbedMedia {
    // ffprobe ran to its end (whatever its exit code); when false nothing below is known.
    bool answered = false;
    int streams = 0;  // of any kind
    int audioStreams = 0;
    double seconds = 0;  // the first audio stream's length, else the container's; 0 when unknown
    // With packets read: where the last packet of the first audio stream ends; 0 when none.
    double packetEnd = 0;
    int bitrateKbps = 0;  // the first audio stream's, else the container's
    int sampleRate = 0;
    int channels = 0;
};

// Measures media files with ffprobe where TagLib cannot: raw AAC, codecs TagLib does not measure
// inside MP4, RF64 WAV, and files cut short whose headers still claim their whole length.
class MediaProbe
{
public:
    static constexpr int kTimeoutMs = 30000;

    // Runs ffprobe on the file. With readPackets it also reads every packet of the first audio
    // stream, which measures a length that no header can be trusted for.
    static ProbedMedia probe(const QString &path, bool readPackets, int timeoutMs = kTimeoutMs);
    // The "-of compact" output of such a run.
    static ProbedMedia parse(const QByteArray &output);

    // Whether `seconds` at `bitrateKbps` needs far more bytes than the file holds: a generous
    // margin, so only a header that outlived the file's cut says so.
    static bool lengthExceedsFile(double seconds, int bitrateKbps, qint64 fileBytes);

    // Fills in what TagLib left at 0 (length, bit rate, sample rate, channels) and measures again
    // a length the file cannot hold.
    static void completeAudio(tagInfo &info, const QString &path);
    // The four audio figures of a raw AAC (ADTS) stream, which has no header to give its length;
    // false when ffprobe finds no audio in it.
    static bool readRawAudio(tagInfo &info, const QString &path);
};
