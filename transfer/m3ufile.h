#pragma once

#include <QByteArray>
#include <QString>

// One playlist file of the drive: "#EXTM3U:", then an "#EXTINF:" line and a path line per entry,
// relative to the playlist's folder with "/" separators. UTF-8, every line ending in CRLF.
// The file is built in memory and put in place whole, so a run that stops half way leaves the
// file of an earlier run as it was rather than a playlist cut short.
class M3uFile
{
public:
    explicit M3uFile(const QString &path = {});

    const QString &path() const { return m_path; }
    int entries() const { return m_entries; }

    // Adds one entry whose path line is `pathLine`.
    void appendM3uEntry(const QString &pathLine);
    // Writes the text under a temporary name beside the file, flushed to the device, then
    // renames it over the file.
    // False, with the file untouched and no temporary left, when that cannot be done.
    bool write(QString *error = nullptr) const;

private:
    QString m_path;
    QByteArray m_text;
    int m_entries = 0;
};
