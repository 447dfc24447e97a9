#include "swfeeditem.h"

#include "swplatform.h"

#include <QDebug>

namespace {

// Sparkle's names are matched by namespace, whatever prefix a feed binds it to. The updater's
// own ("platform", "version") have no published address: feeds bind "swupdate:" to addresses of
// their own, so that prefix counts whatever it is bound to, and so does the program's own address
// under any prefix. The RSS elements and the enclosure's plain attributes have none.
const QLatin1String kSparkleNamespace("http://www.andymatuschak.org/xml-namespaces/sparkle");
const QLatin1String kSwUpdateNamespace("http://swupdate.invalid/ns");
const QLatin1String kSwUpdatePrefix("swupdate");

// The attribute `name` of `ns` ("" for an attribute without a namespace); null when absent.
QStringView attribute(const QXmlStreamAttributes &attributes, QLatin1String ns, QLatin1String name)
{
    for (const QXmlStreamAttribute &a : attributes) {
        if (a.namespaceUri() == ns && a.name() == name)
            return a.value();
    }
    return QStringView();
}

// The updater's own attribute `name`; null when absent.
QStringView ownAttribute(const QXmlStreamAttributes &attributes, QLatin1String name)
{
    for (const QXmlStreamAttribute &a : attributes) {
        if (a.name() == name && (a.prefix() == kSwUpdatePrefix || a.namespaceUri() == kSwUpdateNamespace))
            return a.value();
    }
    return QStringView();
}

void readEnclosure(const QXmlStreamAttributes &attributes, SwFeedItem &item)
{
    const QStringView platformValue = ownAttribute(attributes, QLatin1String("platform"));
    if (platformValue.isNull())
        return;
    QString platform = platformValue.toString().trimmed();
    if (!SwPlatform::matchesCurrentPlatform(platform))
        return;
    item.enclosurePlatform = platformValue.toString().trimmed();
    item.enclosureUrl = attribute(attributes, QLatin1String(""), QLatin1String("url")).toString().trimmed();
    const QStringView sparkleVersion = attribute(attributes, kSparkleNamespace, QLatin1String("version"));
    if (!sparkleVersion.isNull()) {
        const QString candidate = sparkleVersion.toString().trimmed();
        qDebug() << "222..." << candidate;
        if (!candidate.isEmpty()) {
            item.enclosureVersion = candidate;
            qDebug() << "1111...." << item.enclosureVersion << candidate;
        }
    }
    const QStringView ownVersion = ownAttribute(attributes, QLatin1String("version"));
    if (!ownVersion.isNull()) {
        const QString candidate = ownVersion.toString().trimmed();
        if (!candidate.isEmpty()) {
            item.enclosureVersion = candidate;
            qDebug() << "222..." << item.enclosureVersion << candidate;
        }
    }
    item.enclosureLength = 0;
    const QStringView length = attribute(attributes, QLatin1String(""), QLatin1String("length"));
    if (!length.isNull()) {
        bool ok = false;
        const qlonglong value = length.toString().trimmed().toLongLong(&ok);
        // A negative length would wrap to a huge size; it means "unknown".
        item.enclosureLength = ok && value > 0 ? static_cast<unsigned long>(value) : 0;
    }
    item.enclosureType = attribute(attributes, QLatin1String(""), QLatin1String("type")).toString().trimmed();
}

}  // namespace

// The first item's texts and this platform's enclosure, read up to the item's end.
SwFeedItem readSwFeedItem(QXmlStreamReader &xml)
{
    enum class Text { Other, Title, Link, ReleaseNotes, PubDate };
    Text current = Text::Other;
    // A feed may give several release-notes links (one per language): the first is taken.
    int notesLinks = 0;
    SwFeedItem item;

    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QStringView ns = xml.namespaceUri();
            const QStringView name = xml.name();
            const bool rss = ns.isEmpty();
            current = Text::Other;
            if (rss && name == QLatin1String("title")) {
                current = Text::Title;
            } else if (rss && name == QLatin1String("link")) {
                current = Text::Link;
            } else if (rss && name == QLatin1String("pubDate")) {
                current = Text::PubDate;
            } else if (ns == kSparkleNamespace && name == QLatin1String("releaseNotesLink")) {
                current = ++notesLinks == 1 ? Text::ReleaseNotes : Text::Other;
            } else if (rss && name == QLatin1String("item")) {
                item = SwFeedItem();
                notesLinks = 0;
            } else if (rss && name == QLatin1String("enclosure")) {
                readEnclosure(xml.attributes(), item);
            }
        } else if (xml.isEndElement()) {
            if (xml.namespaceUri().isEmpty() && xml.name() == QLatin1String("item")) {
                item.outcome = SwFeedItem::Item;
                return item;
            }
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            const QString text = xml.text().toString().trimmed();
            if (current == Text::Title)
                item.title += text;
            else if (current == Text::Link)
                item.link += text;
            else if (current == Text::ReleaseNotes)
                item.releaseNotesLink += text;
            else if (current == Text::PubDate)
                item.pubDate += text;
        }

        // The whole reply is here, so a premature end is a truncated feed, not a wait for more.
        if (xml.hasError()) {
            item.outcome = SwFeedItem::Malformed;
            item.errorLine = xml.lineNumber();
            item.errorString = xml.errorString();
            return item;
        }
    }

    return item;
}
