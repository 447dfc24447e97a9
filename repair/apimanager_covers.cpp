#include "apimanager.h"

#include "apppaths.h"
#include "repairfields.h"
#include "taglibbuilder.h"

#include <QFileInfo>

// The folder's merged results, one batch per album (album texts compared without case), then each
// track without a real album on its own: no cover is shared under an empty or unknown name.
void ApiManager::makeAlbumBatches()
{
    QMap<QString, TrackMap> albums;
    QList<TrackMap> loose;
    for (const track &result : std::as_const(m_results)) {
        const track t = withHonestTextFlags(result);
        const QString key = albumKey(t);
        if (key.isEmpty())
            loose.append(TrackMap{{t.id, t}});
        else
            albums[key].insert(t.id, t);
    }
    m_albumBatches = albums.values() + loose;
    m_results.clear();
    m_candidates.clear();
}

void ApiManager::applyCover()
{
    if (m_albumBatch.isEmpty()) {
        if (m_albumBatches.isEmpty()) {
            endFolder();
            return;
        }
        m_albumBatch = m_albumBatches.takeFirst();
        m_discogsCoverTried = false;
        m_fingerprintCoverTried = false;
    }
    const track lead = m_albumBatch.first();
    if (albumKey(lead).isEmpty()) {
        resolveCoverPath(QString());  // a track without album keeps the cover it has
        return;
    }
    const QString local = localCover();
    if (!local.isEmpty()) {
        resolveCoverPath(local);
        return;
    }
    if (mayAskWeb()) {
        // Web sources store the cover where the album's cached cover belongs.
        track item = lead;
        item.cover = m_localSearch.artwork().pathFor(lead.albumname);
        item.hasCover = false;
        if (!m_discogsCoverTried && m_discogs) {
            m_discogsCoverTried = true;
            startApi(RepairSource::kDiscogs, RepairSource::Request::Cover, item);
            return;
        }
        if (!m_fingerprintCoverTried && m_fingerprint) {
            m_fingerprintCoverTried = true;
            item.coverUrl = mostVotedCoverUrl();
            if (!item.coverUrl.isEmpty()) {
                startApi(RepairSource::kFingerprint, RepairSource::Request::Cover, item);
                return;
            }
        }
    }
    resolveCoverPath(QString());
}

// A cover of the album found without the web: a member's own cover file of the album, the cached
// cover (any spelling of the name), else the first embedded picture among the members' files.
QString ApiManager::localCover()
{
    for (const track &t : std::as_const(m_albumBatch)) {
        if (t.hasCover && coverNamesAlbum(t.cover, t.albumname))
            return t.cover;
    }
    const QString album = m_albumBatch.first().albumname;
    ArtworkIndex &artwork = m_localSearch.artwork();
    const QString cached = artwork.find(album);
    if (!cached.isEmpty())
        return cached;
    const QString target = artwork.pathFor(album);
    TagLibBuilder tags;
    for (const track &t : std::as_const(m_albumBatch)) {
        if (!QFileInfo(t.filepath).isFile())
            continue;
        tags.extractCoverArt(target, t.filepath);
        if (QFileInfo(target).isFile())
            return target;
    }
    return QString();
}

// The cover address most members were given; on equal votes the one that sorts first.
QString ApiManager::mostVotedCoverUrl() const
{
    QMap<QString, qint64> votes;
    for (const track &t : std::as_const(m_albumBatch)) {
        if (!t.coverUrl.trimmed().isEmpty())
            ++votes[t.coverUrl];
    }
    QString chosen;
    qint64 most = 0;
    for (auto it = votes.cbegin(); it != votes.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            chosen = it.key();
        }
    }
    return chosen;
}

void ApiManager::coverdownloaded(const track &answered)
{
    if (answered.hasCover && isRealCover(answered.cover))
        resolveCoverPath(answered.cover);
    // Otherwise the next cover source gets its turn at the next step.
}

// Gives the batch its cover and saves it. A member with a cover keeps it; the others take `path`
// when it is the cover of their album, else the no-artwork image.
void ApiManager::resolveCoverPath(const QString &path)
{
    const bool usable = isRealCover(path);
    const QString noArtwork = AppPaths().noArtworkUrl;
    for (track &t : m_albumBatch) {
        if (t.hasCover)
            continue;
        if (usable && coverNamesAlbum(path, t.albumname)) {
            t.cover = path;
            t.hasCover = true;
        } else {
            t.cover = noArtwork;
            t.hasCover = false;
        }
    }
    saveBatch();
}
