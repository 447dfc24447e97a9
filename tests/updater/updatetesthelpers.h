#pragma once

#include "replayserver.h"

#include <QByteArray>
#include <QString>

// Appcast feeds for the update tests, served by a ReplayServer.
namespace updatetest {

inline QByteArray feedWith(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\""
           " xmlns:swupdate=\"http://swupdate.invalid/ns\">\n"
           "<channel><title>Corvane channel</title><link>http://channel.invalid/</link>\n"
        + items + "</channel></rss>\n";
}

inline QByteArray item(const QByteArray &version, const QByteArray &notesLink,
    const QByteArray &platform = "linux", const QByteArray &enclosure = "http://downloads.invalid/setup.exe")
{
    return "<item><title>Version " + version
        + "</title>\n"
          "<sparkle:releaseNotesLink>"
        + notesLink
        + "</sparkle:releaseNotesLink>\n"
          "<pubDate>Sat, 05 Dec 2026 10:00:00 +0000</pubDate>\n"
          "<enclosure url=\""
        + enclosure + "\" sparkle:version=\"" + version + "\" swupdate:platform=\"" + platform
        + "\" length=\"1234\" type=\"application/octet-stream\"/>\n"
          "</item>\n";
}

}  // namespace updatetest
