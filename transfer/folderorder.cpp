#include "folderorder.h"

#include "textorder.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>

#include <taglib/fileref.h>
#include <taglib/tpropertymap.h>

#include <algorithm>

namespace {

// In an arrange's hidden folder: where its entries belong, relative to the folder holding it.
const QString kOriginFile = QStringLiteral(".kivo-origin");
const QString kStagingSuffix = QStringLiteral("order");

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

// The disc and track number a file of an earlier run carries in its tags; 0 where none.
PlacedEntry fromTags(const QFileInfo &file)
{
    PlacedEntry entry;
    entry.name = file.fileName();
    TagLib::FileRef ref(QFile::encodeName(file.filePath()).constData(), false);
    if (ref.isNull() || !ref.tag())
        return entry;
    entry.number = qint16(std::min(ref.tag()->track(), 32767u));
    const TagLib::PropertyMap properties = ref.file()->properties();
    const auto disc = properties.find("DISCNUMBER");
    if (disc != properties.end() && !disc->second.isEmpty())
        entry.disc = qint16(std::min(
            QString::fromUtf8(disc->second.front().toCString(true)).section(QLatin1Char('/'), 0, 0).toUInt(),
            32767u));
    return entry;
}

// Moves the entry `name` of `from` into `to`, never over a file there. A folder is made anew
// there and its entries moved one by one: fusefat loses the contents of a folder that is itself
// renamed. A folder already in `to` takes in what it does not hold yet.
platform::CopyOutcome move(const QString &from, const QString &to, const QString &name)
{
    const QString source = from + QLatin1Char('/') + name, target = to + QLatin1Char('/') + name;
    const QFileInfo entry(source);
    if (!entry.isDir() || entry.isSymLink()) {
        if (QFileInfo::exists(target))
            return {platform::CopyOutcome::Other, QStringLiteral("%1 is there already").arg(target)};
        return platform::replaceFile(source, target);
    }
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

}  // namespace

FolderOrder::FolderOrder(const QString &folder, Kind kind)
    : m_folder(folder)
    , m_kind(kind)
{ }

void FolderOrder::place(const PlacedEntry &entry, bool added)
{
    m_placed << entry;
    m_grown = m_grown || added;
}

bool FolderOrder::ordered(const QFileInfo &entry) const
{
    if (entry.fileName().startsWith(QLatin1Char('.')))
        return false;
    if (m_kind == Names)
        return true;
    return entry.isFile() && entry.fileName().compare(QLatin1String("Folder.png"), Qt::CaseInsensitive) != 0;
}

QStringList FolderOrder::wanted(const QFileInfoList &listed) const
{
    const QCollator collator = nameCollator();
    QStringList order, rest;
    QFileInfoList playable;
    for (const QFileInfo &entry : listed) {
        if (ordered(entry))
            playable << entry;
        else
            rest << entry.fileName();
    }
    if (m_kind == Names) {
        std::stable_sort(playable.begin(), playable.end(), [&](const QFileInfo &a, const QFileInfo &b) {
            if (a.isFile() != b.isFile())
                return b.isFile();
            return collator.compare(a.fileName(), b.fileName()) < 0;
        });
        for (const QFileInfo &entry : std::as_const(playable))
            order << entry.fileName();
        return order + rest;
    }

    // What this run placed keeps the walk's order, under the name the listing gives it (FAT
    // tells no cases apart).
    QHash<QString, int> placedAt;
    for (int i = 0; i < m_placed.size(); ++i)
        placedAt.insert(m_placed.at(i).name.toCaseFolded(), i);
    QList<QPair<int, QString>> found;
    QList<PlacedEntry> placed, earlier;
    for (const QFileInfo &entry : std::as_const(playable)) {
        const auto it = placedAt.constFind(entry.fileName().toCaseFolded());
        if (it != placedAt.constEnd())
            found << qMakePair(it.value(), entry.fileName());
        else
            earlier << (m_kind == Album ? fromTags(entry) : PlacedEntry{entry.fileName()});
    }
    std::sort(found.begin(), found.end());
    for (const auto &[index, name] : std::as_const(found)) {
        placed << m_placed.at(index);
        placed.last().name = name;
    }
    const auto before = [&](const PlacedEntry &a, const PlacedEntry &b) {
        if (a.disc != b.disc)
            return a.disc < b.disc;
        if (a.number != b.number)
            return a.number < b.number;
        return collator.compare(a.name, b.name) < 0;
    };
    if (m_kind == Album)
        std::stable_sort(earlier.begin(), earlier.end(), before);
    // Files of earlier runs go where their tags place them among this run's; a playlist's
    // after its entries of this run, which its file no longer names.
    int e = 0;
    for (const PlacedEntry &entry : std::as_const(placed)) {
        while (m_kind == Album && e < earlier.size() && before(earlier.at(e), entry))
            order << earlier.at(e++).name;
        order << entry.name;
    }
    for (; e < earlier.size(); ++e)
        order << earlier.at(e).name;
    return order + rest;
}

platform::CopyOutcome FolderOrder::arrange(const QString &stagingParent) const
{
    // First only what follows the first entry out of place, then, when free slots among those
    // left took some of it, everything.
    for (bool whole : {false, true}) {
        const QFileInfoList listed = listing(m_folder);
        const QStringList order = wanted(listed);
        QStringList now;
        QSet<QString> playable;
        for (const QFileInfo &entry : listed) {
            now << entry.fileName();
            if (ordered(entry))
                playable.insert(entry.fileName());
        }
        // Only the order of what is played counts; a cover or a hidden file may stand anywhere.
        const auto played = [&playable](const QStringList &names) {
            QStringList kept;
            for (const QString &name : names) {
                if (playable.contains(name))
                    kept << name;
            }
            return kept;
        };
        const QStringList playedNow = played(now), playedWanted = played(order);
        if (playedNow == playedWanted)
            return {};
        int same = 0;
        while (!whole && same < playedNow.size() && playedNow.at(same) == playedWanted.at(same))
            ++same;
        const QStringList out = now.mid(same == 0 ? 0 : now.indexOf(playedNow.at(same - 1)) + 1);
        const QSet<QString> outSet(out.cbegin(), out.cend());
        QStringList back;
        for (const QString &name : order) {
            if (outSet.contains(name))
                back << name;
        }
        const platform::CopyOutcome outcome = relay(stagingParent, out, back);
        if (!outcome.ok() || same == 0)
            return outcome;
    }
    return {};
}

platform::CopyOutcome FolderOrder::relay(
    const QString &stagingParent, const QStringList &out, const QStringList &back) const
{
    const QString staging = platform::temporaryPath(stagingParent, kStagingSuffix);
    platform::CopyOutcome outcome = platform::makeFolder(staging);
    if (!outcome.ok())
        return outcome;
    // Where the entries belong, should the run not get to put them back.
    QFile origin(staging + QLatin1Char('/') + kOriginFile);
    const QByteArray name = QDir(stagingParent).relativeFilePath(m_folder).toUtf8();
    if (!origin.open(QIODevice::WriteOnly) || origin.write(name) != name.size() || !origin.flush()) {
        const QString reason = origin.errorString();
        origin.close();
        origin.remove();
        QDir().rmdir(staging);
        return {platform::CopyOutcome::Other, reason};
    }
    origin.close();

    QStringList moved;
    for (const QString &entry : out) {
        outcome = move(m_folder, staging, entry);
        // A folder may have gone in part.
        if (outcome.ok() || QFileInfo::exists(staging + QLatin1Char('/') + entry))
            moved << entry;
        if (!outcome.ok())
            break;
    }
    // Back in play order; after a failed move out, what went out goes back as it can.
    for (const QString &entry : outcome.ok() ? back : moved) {
        const platform::CopyOutcome returned = move(staging, m_folder, entry);
        if (outcome.ok() && !returned.ok())
            outcome = returned;
    }
    if (listing(staging).size() == 1) {
        origin.remove();
        QDir().rmdir(staging);
    }
    return outcome;
}

int FolderOrder::recover(const QString &parent)
{
    int emptied = 0;
    QDirIterator it(parent, {QStringLiteral(".kivo-*.") + kStagingSuffix}, QDir::Dirs | QDir::Hidden);
    while (it.hasNext()) {
        const QString staging = it.next();
        if (!platform::isStaleTemporary(it.fileName(), platform::OwnTemporaries::Stale))
            continue;
        QFile origin(staging + QLatin1Char('/') + kOriginFile);
        const QString name
            = origin.open(QIODevice::ReadOnly) ? QString::fromUtf8(origin.readAll()) : QString();
        origin.close();
        // Only a folder below `parent`.
        const QString below = parent.endsWith(QLatin1Char('/')) ? parent : parent + QLatin1Char('/');
        const QString folder = QDir::cleanPath(below + name);
        if (name.isEmpty() || QDir::isAbsolutePath(name) || !folder.startsWith(below)
            || !platform::makeFolders(folder).ok())
            continue;
        bool left = false;
        for (const QFileInfo &entry : listing(staging)) {
            // A file of the same name made since is newer than the one waiting here; a folder
            // takes in what it does not hold yet.
            if (entry.fileName() != kOriginFile && !move(staging, folder, entry.fileName()).ok())
                left = true;
        }
        if (!left && origin.remove() && QDir().rmdir(staging))
            ++emptied;
    }
    return emptied;
}
