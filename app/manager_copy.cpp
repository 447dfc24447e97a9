#include "manager.h"

#include "applog.h"
#include "filecopy.h"
#include "kivodb.h"
#include "namefit.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {

bool sameContent(const QString &a, const QString &b)
{
    QFile first(a), second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly)
        || !second.open(QIODevice::ReadOnly))
        return false;
    while (!first.atEnd()) {
        if (first.read(1 << 20) != second.read(1 << 20))
            return false;
    }
    return true;
}

// Where `source` goes in the library: `target`, cut to fit, or "name (2).mp3", "name (3).mp3", ...
// The first name that is free, that already holds the same bytes (the file was added before), or
// that this add gave the same source, wins. `claimed` holds the names this add gave, by source.
QString libraryTarget(const QString &source, const QString &target, const QHash<QString, QString> &claimed)
{
    const QString folder = QFileInfo(target).absolutePath();
    const QString name = QFileInfo(target).fileName();
    const QString suffix = nameSuffix(name);
    QString candidate;
    uniqueName(
        name.left(name.size() - suffix.size()), suffix, NameUnits::Utf8Bytes, [&](const QString &fileName) {
            candidate = folder + QLatin1Char('/') + fileName;
            const auto it = claimed.constFind(candidate);
            return it != claimed.cend() ? *it == source
                                        : (!QFileInfo::exists(candidate) || sameContent(source, candidate));
        });
    return candidate;
}

}  // namespace

QString manager::libraryFolderFor(const track &t)
{
    return kivoDB::libraryRoot() + QLatin1Char('/') + albumFolderName(t.albumname);
}

CopyResult manager::copyToLibrary(
    QList<track> tracks, const StopToken *stop, const std::function<void(int, int)> &progress)
{
    // Rows are stored a batch at a time: one transaction per file would dominate a large add.
    constexpr int kBatch = 200;
    struct Pending {
        track t;
        QString source;
        QString temporary;  // the copy until its row is stored; empty when an earlier copy serves
    };
    CopyResult result;
    QList<Pending> pending;
    QHash<QString, QString> claimed;
    kivoDB store;

    // A copy takes its real name only once its row is stored, so an add that is killed leaves no
    // file without a row, only temporary files that the next start clears.
    const auto flush = [&] {
        if (pending.isEmpty())
            return;
        QList<track> rows;
        for (const Pending &p : std::as_const(pending))
            rows << p.t;
        QList<qint64> ids;
        // Until every copy of the batch has its name, a load would take the new rows for stale.
        const kivoDB::PlacingFiles placing;
        if (store.insertTracks(rows, &ids) && ids.size() == rows.size()) {
            for (int i = 0; i < rows.size(); ++i) {
                const Pending &p = pending.at(i);
                const platform::CopyOutcome placed = p.temporary.isEmpty()
                    ? platform::CopyOutcome()
                    : platform::replaceFile(p.temporary, p.t.filepath);
                if (!placed.ok()) {
                    QFile::remove(p.temporary);
                    // Should this fail too, the next load drops the row, as its file is not there.
                    store.deleteTrackById(QSqlDatabase(), ids.at(i));
                    result.failures << p.source + QStringLiteral(": the copy could not be named: ")
                            + placed.message;
                    continue;
                }
                rows[i].id = ids.at(i);
                result.added << rows.at(i);
            }
        } else {
            const QString reason = kivoDB::lastError();
            for (const Pending &p : std::as_const(pending)) {
                if (!p.temporary.isEmpty())
                    QFile::remove(p.temporary);
                result.failures << p.source + QStringLiteral(": ") + reason;
            }
        }
        for (const Pending &p : std::as_const(pending))
            QDir().rmdir(QFileInfo(p.t.filepath).absolutePath());
        pending.clear();
    };

    const int total = int(tracks.size());
    for (int i = 0; i < total; ++i) {
        if (stop && stop->stopped()) {
            result.cancelled = true;
            break;
        }
        track t = tracks.at(i);
        const QString source = t.originalPath.isEmpty() ? t.filepath : t.originalPath;
        const QFileInfo sourceInfo(source);
        // The planned place, which the entries of a playlist share with the album's track.
        const QString planned = t.filepath != source
            ? t.filepath
            : libraryFolderFor(t) + QLatin1Char('/') + sourceInfo.fileName();
        const QString folder = QFileInfo(planned).absolutePath();
        if (!sourceInfo.isFile()) {
            result.failures << source + QStringLiteral(": the file is no longer there");
        } else if (t.filepath == source && source.startsWith(kivoDB::libraryRoot() + QLatin1Char('/'))) {
            // Already in the library (a conversion an entry shares): only its row is stored.
            pending << Pending{t, source, {}};
        } else if (!QDir().mkpath(folder)) {
            result.failures << source + QStringLiteral(": the library folder cannot be made");
        } else {
            // The same file added again (or listed in a playlist too) shares its library copy; a
            // different file of the same name gets a free name, and nothing is overwritten.
            const QString target = libraryTarget(source, planned, claimed);
            QString temporary;
            platform::CopyOutcome copied;
            if (!claimed.contains(target) && !QFileInfo::exists(target)) {
                temporary = platform::temporaryPath(folder, QStringLiteral("part"));
                const std::function<bool()> stopped = stop ? stop->check() : std::function<bool()>();
                copied = platform::copyFile(source, temporary, stopped);
                // The start-up sweep may just have removed an album folder left empty.
                if (copied.error == platform::CopyOutcome::TargetGone && QDir().mkpath(folder))
                    copied = platform::copyFile(source, temporary, stopped);
            }
            if (copied.error == platform::CopyOutcome::Cancelled) {
                // Stopped inside the file: its part is gone already, and it is no failure.
                result.cancelled = true;
                break;
            }
            if (copied.ok()) {
                claimed.insert(target, source);
                t.filepath = target;
                pending << Pending{t, source, temporary};
            } else {
                result.failures << source + QStringLiteral(": the file could not be copied: ")
                        + copied.message;
            }
        }
        writeLog(appLogFile(), QStringLiteral("Copy to library: "), source);
        if (pending.size() >= kBatch)
            flush();
        if (progress)
            progress(i + 1, total);
    }
    flush();
    result.library = store.loadLibrary(QSqlDatabase(), &result.libraryLoaded);
    return result;
}
