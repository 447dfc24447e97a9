#pragma once

#include <QString>
#include <QXmlStreamReader>

// The first item of an update feed as it stands in the XML, before its links are judged.
struct SwFeedItem {
    enum Outcome { NoItem, Item, Malformed };
    Outcome outcome = NoItem;
    // Where and why the XML broke off, for Malformed.
    qint64 errorLine = 0;
    QString errorString;
    QString title, link, releaseNotesLink, pubDate;
    // The enclosure for this platform; empty when the item has none.
    QString enclosureUrl, enclosureVersion, enclosurePlatform, enclosureType;
    unsigned long enclosureLength = 0;
};

// Reads the feed's first item up to its end. Elements and attributes are known by their
// namespace, whatever prefix the feed binds it to; of several release-notes links the first
// counts.
SwFeedItem readSwFeedItem(QXmlStreamReader &xml);
