#include "parkingrecord.h"

#include "filecopy.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QByteArray kHeader = QByteArrayLiteral("KiVO parked entries 1");
const QByteArray kEnd = QByteArrayLiteral("end");
// No record of a folder's entries comes near this; a larger one is not read.
constexpr qsizetype kMaxRecordBytes = 8 << 20;
// Far more parked folders than any folder's entries fill.
constexpr int kMaxBundles = 100000;

// Names on a FAT drive hold neither line breaks nor "%", but a folder target may.
QByteArray escaped(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('%', "%25").replace('\n', "%0A").replace('\r', "%0D");
    return bytes;
}

QByteArray line(const char *key, const QString &value)
{
    return QByteArray(key) + ' ' + escaped(value) + '\n';
}

}  // namespace

QByteArray ParkingRecord::text() const
{
    QByteArray bytes = kHeader + '\n' + line("folder", folder) + line("kind", kind);
    for (const QString &name : back)
        bytes += line("back", name);
    for (const QString &name : taken)
        bytes += line("taken", name);
    for (const QString &name : order)
        bytes += line("order", name);
    if (plugs)
        bytes += line("plugs", QStringLiteral("yes"));
    if (bundles > 1)
        bytes += line("bundles", QString::number(bundles));
    return bytes + kEnd + '\n';
}

QString ParkingRecord::plugName(int n, int length)
{
    const QString stem = QStringLiteral("KIVO%1").arg(n, 4, 10, QLatin1Char('0'));
    const QString suffix = QStringLiteral(".TMP");
    // A name longer than 255 is refused everywhere.
    const int dashes = std::clamp(length, 0, 255) - int(stem.size() + suffix.size());
    return stem + QString(std::max(0, dashes), QLatin1Char('-')) + suffix;
}

bool ParkingRecord::isRecordBegun(const QByteArray &bytes)
{
    const QByteArray head = kHeader + '\n';
    return bytes.size() < head.size() ? head.startsWith(bytes) : bytes.startsWith(head);
}

bool ParkingRecord::isPlugName(const QString &name)
{
    // FAT tells no cases apart, and some drivers show short names in lower case.
    static const QRegularExpression pattern(
        QStringLiteral("^KIVO\\d{4}-*\\.TMP$"), QRegularExpression::CaseInsensitiveOption);
    return pattern.match(name).hasMatch();
}

std::optional<ParkingRecord> ParkingRecord::parse(const QByteArray &bytes)
{
    if (bytes.size() > kMaxRecordBytes)
        return std::nullopt;
    // Whole, it ends with its end line and nothing after it.
    if (!bytes.endsWith('\n' + kEnd + '\n'))
        return std::nullopt;
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    lines.removeLast();
    if (lines.isEmpty() || lines.first() != kHeader)
        return std::nullopt;
    ParkingRecord record;
    bool hasFolder = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &text = lines.at(i);
        const qsizetype space = text.indexOf(' ');
        if (space <= 0)
            return std::nullopt;
        const QByteArray key = text.left(space);
        const QString value = QString::fromUtf8(QByteArray::fromPercentEncoding(text.mid(space + 1)));
        if (key == "folder") {
            record.folder = value;
            hasFolder = true;
        } else if (key == "kind") {
            record.kind = value;
        } else if (key == "back") {
            record.back << value;
        } else if (key == "taken") {
            record.taken << value;
        } else if (key == "order") {
            record.order << value;
        } else if (key == "plugs" && value == QLatin1String("yes")) {
            record.plugs = true;
        } else if (key == "bundles") {
            bool number = false;
            record.bundles = value.toInt(&number);
            if (!number || record.bundles < 1 || record.bundles > kMaxBundles)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!hasFolder)
        return std::nullopt;
    return record;
}

QString ParkingRecord::refusal(const QString &root, const QString &folder)
{
    if (folder.isEmpty() || folder.startsWith(QLatin1Char('/')))
        return QStringLiteral("an absolute path");
    const QStringList parts = folder.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("a path that leaves the drive's folders");
        // Another hidden folder of ours is no place for a parked entry.
        if (part.startsWith(QLatin1String(".kivo-"), Qt::CaseInsensitive))
            return QStringLiteral("a path into a hidden folder of the program's");
    }
    QString path = root;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        switch (platform::entryKindOf(path)) {
        case platform::EntryKind::Folder:
            break;
        case platform::EntryKind::Missing:
            // Nothing below a part not there yet can be a link.
            return {};
        case platform::EntryKind::Link:
            return QStringLiteral("a path through a link");
        default:
            return QStringLiteral("a path through something that is not a folder");
        }
    }
    return {};
}
