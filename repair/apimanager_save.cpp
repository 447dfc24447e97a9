#include "apimanager.h"

#include "applog.h"
#include "repairfields.h"

#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

// Repository rows are written this many at a time, in one transaction: each batch prepares its
// statements once.
constexpr qsizetype kRepoBatch = 256;

}  // namespace

// The one save of each track of the album: its tags (only when they change, so a file whose tags
// already hold everything stays as it is), its repository row, and the controller's copy when a
// value changed. The tags are written on the thread pool while the run goes on; the end marker
// waits for them.
void ApiManager::saveBatch()
{
    QList<track> tracks;
    QList<track> retag;
    for (const track &batched : std::as_const(m_albumBatch)) {
        if (isForgotten(batched.filepath))
            continue;  // removed from the library meanwhile
        // The cover step has just settled hasCover.
        const track t = withHonestTextFlags(batched);
        countFilled(m_originals.value(t.id, t), t);
        tracks.append(t);
        if (tagsDiffer(m_originals.value(t.id, t), t))
            retag.append(t);
    }
    m_albumBatch.clear();

    writeTags(retag);

    for (const track &t : std::as_const(tracks)) {
        m_repoPending.append(t);
        m_repoPendingFolders.insert(t.folderLocation);
        if (libraryValuesDiffer(m_originals.value(t.id, t), t))
            emit updateTrackToManager(t);
    }
    if (m_repoPending.size() >= kRepoBatch)
        flushRepository();
}

// The repository only answers for a track's own folder, so rows of folders done may wait for the
// batch; they are written before their folder is read again and at the end of every run.
void ApiManager::flushRepository()
{
    if (m_repoPending.isEmpty())
        return;
    if (!m_store.upsertRepoTracks(m_repoPending))
        writeLog(appLogFile(), QStringLiteral("Repair: repository rows not saved: "), kivoDB::lastError());
    m_repoPending.clear();
    m_repoPendingFolders.clear();
}

// One task per album, a few albums at a time: the files are written side by side and the run does
// not wait on the disk. A file is never written by two tasks at once.
void ApiManager::writeTags(const QList<track> &tracks)
{
    while (!m_tagWrites.empty() && m_tagWrites.front().done.isFinished())
        m_tagWrites.pop_front();
    if (tracks.isEmpty())
        return;
    QSet<QString> files;
    for (const track &t : tracks)
        files.insert(t.filepath);
    for (const TagWrite &write : m_tagWrites) {
        if (write.files.intersects(files)) {
            waitForTagWrites();
            break;
        }
    }
    while (m_tagWrites.size() >= 2 * size_t(m_tagPool->maxThreadCount())) {
        m_tagWrites.front().done.waitForFinished();
        m_tagWrites.pop_front();
    }
    const TagWriter writer = m_tagWriter;
    m_tagWrites.push_back(
        {QtConcurrent::run(m_tagPool.get(),
             [this, writer, tracks] {
                 for (const track &t : tracks) {
                     // A file removed since its album was saved is not made again by its tag write.
                     if (isForgotten(t.filepath) || !QFileInfo::exists(t.filepath))
                         continue;
                     if (!writer(t))
                         writeLog(appLogFile(), QStringLiteral("Repair: tags not written: "), t.filepath);
                 }
             }),
            files});
}

void ApiManager::countFilled(const track &original, const track &saved)
{
    m_summary.titles += !isRealTitle(original.trackname) && saved.hasTitle;
    m_summary.artists += !isRealText(original.artistname) && saved.hasArtist;
    m_summary.albums += !isRealText(original.albumname) && saved.hasAlbum;
    m_summary.covers += !isRealCover(original.cover) && saved.hasCover && isRealCover(saved.cover);
}

void ApiManager::waitForTagWrites()
{
    for (TagWrite &write : m_tagWrites)
        write.done.waitForFinished();
    m_tagWrites.clear();
}
