#include "folderorder.h"
#include "folderorder_p.h"

#include "parkingrecord.h"
#include "removal.h"

#include "taglibbuilder.h"
#include "textorder.h"
#include "track_data.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>

#include <algorithm>

std::function<void(FolderOrder::Step, int)> FolderOrder::stepHook;

namespace folderorder {

namespace {

// How many names are tried for one entry before it is left where it is and named.
constexpr int kNameTries = 100;
// The longest name a drive's file system takes, in bytes as Linux counts them.
constexpr qsizetype kNameBytes = 255;
// A record is a few lines a parked entry; anything larger is not one of ours.
constexpr qint64 kMaxRecordRead = 8 << 20;
// The room probe is at most what an arrange of the largest folders takes.
constexpr qint64 kMaxProbeRead = 64 << 20;

}  // namespace

QString kindName(FolderOrder::Kind kind)
{
    switch (kind) {
    case FolderOrder::Album:
        return QStringLiteral("album");
    case FolderOrder::Playlist:
        return QStringLiteral("playlist");
    case FolderOrder::Names:
        return QStringLiteral("names");
    case FolderOrder::MediaRoot:
        break;
    }
    return QStringLiteral("root");
}

std::optional<FolderOrder::Kind> kindNamed(const QString &name)
{
    for (const FolderOrder::Kind kind :
        {FolderOrder::Album, FolderOrder::Playlist, FolderOrder::Names, FolderOrder::MediaRoot}) {
        if (kindName(kind) == name)
            return kind;
    }
    return std::nullopt;
}

QFileInfoList listing(const QString &folder)
{
    QFileInfoList entries;
    // Unsorted: the file system's own order, which is what is judged.
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        entries << it.fileInfo();
    }
    return entries;
}

platform::CopyOutcome move(
    const QString &from, const QString &to, const QString &name, const QString &newName)
{
    const QString source = from + QLatin1Char('/') + name;
    const QString target = to + QLatin1Char('/') + (newName.isEmpty() ? name : newName);
    platform::CopyOutcome unreadable;
    const platform::EntryKind there = platform::entryKindOf(target, &unreadable);
    if (there == platform::EntryKind::Unreadable)
        return unreadable;
    const bool folder = platform::entryKindOf(source) == platform::EntryKind::Folder;
    if (there != platform::EntryKind::Missing && !(folder && there == platform::EntryKind::Folder))
        return {platform::CopyOutcome::Other, QStringLiteral("%1 is there already").arg(target)};
    if (!folder)
        return platform::replaceFile(source, target);
    platform::CopyOutcome outcome = platform::makeFolder(target);
    for (const QFileInfo &inner : listing(source)) {
        if (!outcome.ok())
            break;
        outcome = move(source, target, inner.fileName());
    }
    if (outcome.ok() && !QDir().rmdir(source))
        outcome
            = {platform::CopyOutcome::Other, QStringLiteral("the folder %1 cannot be removed").arg(source)};
    return outcome;
}

QString freeNameIn(const QString &folder, const QString &name, bool folderWelcome)
{
    const QFileInfo info(name);
    const QString suffix = info.suffix().isEmpty() || info.completeBaseName().isEmpty()
        ? QString()
        : QLatin1Char('.') + info.suffix();
    const QString base = name.left(name.size() - suffix.size());
    for (int n = 1; n <= kNameTries; ++n) {
        const QString tail = n == 1 ? suffix : QStringLiteral(" (%1)").arg(n) + suffix;
        // Shortened where the number would make the name too long to exist anywhere.
        QString stem = base;
        while (!stem.isEmpty() && (stem + tail).toUtf8().size() > kNameBytes)
            stem.chop(stem.size() > 1 && stem.back().isLowSurrogate() ? 2 : 1);
        if (stem.isEmpty() && !base.isEmpty())
            return {};
        const QString candidate = stem + tail;
        // Anything but "missing", a name that cannot be looked at included, is taken.
        const platform::EntryKind there = platform::entryKindOf(folder + QLatin1Char('/') + candidate);
        if (there == platform::EntryKind::Missing || (folderWelcome && there == platform::EntryKind::Folder))
            return candidate;
    }
    return {};
}

QString removeHidden(
    const QString &staging, const QStringList &bundles, const QStringList &records, const QStringList &others)
{
    platform::removeFiles(others);
    for (const QString &path : bundles)
        platform::removeFolder(path);
    // Whatever is left but the records (a parked folder that is not empty, a name the driver could
    // not remove) still needs them to be known as the program's.
    QSet<QString> recordNames;
    for (const QString &path : records)
        recordNames.insert(QFileInfo(path).fileName());
    QStringList left;
    for (const QString &name : platform::entryNames(staging)) {
        if (!recordNames.contains(name) && !platform::isDriverKept(name))
            left << name;
    }
    if (!left.isEmpty())
        return QStringLiteral("it holds %1").arg(left.join(QStringLiteral(", ")));
    // What a driver still keeps of files removed just now is the program's: it goes by itself.
    const QStringList kept = platform::awaitLetGo(staging);
    if (!kept.isEmpty())
        return QStringLiteral("the drive still keeps %1 of files removed from it, %2 ms on")
            .arg(kept.join(QStringLiteral(", ")))
            .arg(platform::letGoBound());
    for (const QString &path : records) {
        const platform::CopyOutcome removed = platform::removeFile(path);
        if (!removed.ok())
            return removed.message;
        step(FolderOrder::Step::Unrecorded);
    }
    const platform::CopyOutcome gone = platform::removeFolder(staging);
    return gone.ok() ? QString() : gone.message;
}

QByteArray readBounded(const QString &path)
{
    if (platform::entryKindOf(path) != platform::EntryKind::File)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kMaxRecordRead + 1);
}

bool isRoomProbe(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return false;
    if (info.size() == 0)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxProbeRead)
        return false;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(1 << 20);
        if (chunk.isEmpty() || chunk.count('\0') != chunk.size())
            return false;
    }
    return true;
}

bool isFuseKept(const QFileInfo &entry)
{
    return platform::isDriverKept(entry.fileName()) && entry.isFile() && !entry.isSymLink()
        && (isRoomProbe(entry.filePath()) || ParkingRecord::isRecordBegun(readBounded(entry.filePath())));
}

void step(FolderOrder::Step at, int count)
{
    if (FolderOrder::stepHook)
        FolderOrder::stepHook(at, count);
}

}  // namespace folderorder

FolderOrder::FolderOrder(const QString &folder, Kind kind)
    : m_folder(folder)
    , m_kind(kind)
{ }

void FolderOrder::place(const PlacedEntry &entry)
{
    // FAT tells no cases apart: the listing may spell a name otherwise.
    m_placedAt.insert(entry.name.toCaseFolded(), int(m_placed.size()));
    m_placed << entry;
}

bool FolderOrder::played(const QFileInfo &entry) const
{
    const QString name = entry.fileName();
    if (name.startsWith(QLatin1Char('.')) || entry.isSymLink())
        return false;
    if (entry.isDir())
        return m_kind == MediaRoot;
    if (!entry.isFile())
        return false;
    const QString suffix = entry.suffix();
    if (m_kind == MediaRoot && track_data::isPlaylistFile(suffix))
        return true;
    return track_data::isAudioFile(suffix) || track_data::isVideoSuffix(suffix);
}

QStringList FolderOrder::wanted(const QFileInfoList &listed) const
{
    const QCollator collator = nameCollator();
    struct Entry {
        QString name;
        bool folder = false;
        int placed = -1;  // index in m_placed; -1 for an entry of an earlier run
        TagLibBuilder::PlayNumbers numbers;
    };
    QList<Entry> entries;
    for (const QFileInfo &info : listed) {
        if (!played(info))
            continue;
        Entry entry;
        entry.name = info.fileName();
        entry.folder = info.isDir();
        entry.placed = m_placedAt.value(entry.name.toCaseFolded(), -1);
        if (m_kind == Album) {
            if (entry.placed >= 0 && m_placed.at(entry.placed).known)
                entry.numbers = {m_placed.at(entry.placed).disc, m_placed.at(entry.placed).number};
            else if (const auto known = m_tagged.constFind(entry.name.toCaseFolded());
                     known != m_tagged.constEnd())
                entry.numbers = known.value();
            else
                entry.numbers = m_tagged[entry.name.toCaseFolded()]
                    = TagLibBuilder::playNumbers(info.filePath());
        }
        entries << entry;
    }
    const auto byName = [&collator](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b;
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        switch (m_kind) {
        case Album:
            if (a.numbers.disc != b.numbers.disc)
                return a.numbers.disc < b.numbers.disc;
            if (a.numbers.track != b.numbers.track)
                return a.numbers.track < b.numbers.track;
            break;
        case Playlist:
            // This run's entries as the playlist has them; those it no longer names after them.
            if ((a.placed < 0) != (b.placed < 0))
                return b.placed < 0;
            if (a.placed != b.placed)
                return a.placed < b.placed;
            break;
        case MediaRoot:
            if (a.folder != b.folder)
                return a.folder;
            break;
        case Names:
            break;
        }
        return byName(a.name, b.name);
    });
    QStringList order;
    for (const Entry &entry : std::as_const(entries))
        order << entry.name;
    return order;
}
