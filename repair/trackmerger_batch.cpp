#include "trackmerger.h"

#include "repairfields.h"

namespace {

// Album texts compared without case and surrounding blanks.
QString folded(const QString &album)
{
    return album.trimmed().toCaseFolded();
}

}  // namespace

TrackMap TrackMerger::matchResults(TrackMap &locals, CandidateMap &candidates)
{
    QList<qint64> ids;
    for (auto it = locals.begin(); it != locals.end(); ++it) {
        if (it->tracknumber <= 0)
            it->tracknumber = clampCount(paths.splitLeadingNumber(it->filename));
        if (!ids.contains(it.key()))
            ids.append(it.key());
    }
    candidates = scoreAllCandidates(locals, candidates);
    if (locals.size() <= 2) {
        locals = mergeEachTrack(locals, candidates);
        return locals;
    }

    // Albums across the folder: only candidates good enough to be taken, on a real album, count.
    AlbumGroups groups;
    for (auto it = candidates.cbegin(); it != candidates.cend(); ++it) {
        if (it->score <= kMinimumScore || !isRealText(it->albumname) || !locals.contains(it.key())
            || !fits(locals.value(it.key()), *it))
            continue;
        QList<qint64> &group = groups[folded(it->albumname)];
        if (!group.contains(it.key()))
            group.append(it.key());
    }
    const AlbumGroups chosen = assignAlbums(groups, ids);
    for (auto album = chosen.cbegin(); album != chosen.cend(); ++album) {
        for (const qint64 id : album.value()) {
            if (!locals.contains(id))
                continue;
            const track best = bestCandidateOnAlbum(candidates, album.key(), id, &locals[id]);
            if (best.id == id)
                mergeTrack(locals[id], best);
        }
    }
    return locals;
}

CandidateMap TrackMerger::scoreCandidatesOf(const track &local, CandidateMap &candidates) const
{
    CandidateMap own;
    const auto range = std::as_const(candidates).equal_range(local.id);
    // Inserted from the last to the first, since each insert goes in front: the order stays.
    for (auto it = range.second; it != range.first;) {
        --it;
        track candidate = *it;
        candidate.score = matchScore(local, candidate);
        own.insert(it.key(), candidate);
    }
    candidates = own;
    return own;
}

CandidateMap TrackMerger::scoreAllCandidates(const TrackMap &locals, const CandidateMap &candidates) const
{
    CandidateMap scored;
    for (const track &local : locals) {
        CandidateMap copy = candidates;
        const CandidateMap own = scoreCandidatesOf(local, copy);
        for (auto it = own.cend(); it != own.cbegin();) {
            --it;
            scored.insert(it.key(), it.value());
        }
    }
    return scored;
}

TrackMap TrackMerger::mergeEachTrack(TrackMap &locals, const CandidateMap &candidates) const
{
    TrackMap result = locals;
    for (auto it = locals.begin(); it != locals.end(); ++it) {
        track &local = it.value();
        if (local.tracknumber <= 0)
            local.tracknumber = clampCount(paths.splitLeadingNumber(local.filename));
        if (!local.folderLocation.isEmpty())
            local.reservedShort3 = clampCount(paths.countAudioFiles(local.folderLocation));

        // The album whose good candidates add up to the most; ties keep the first album.
        QMap<QString, qint64> sums;
        const auto range = candidates.equal_range(it.key());
        for (auto c = range.first; c != range.second; ++c) {
            if (c->score > kMinimumScore && isRealText(c->albumname) && fits(local, *c))
                sums[folded(c->albumname)] += c->score;
        }
        QString bestAlbum;
        qint64 bestSum = 0;
        for (auto s = sums.cbegin(); s != sums.cend(); ++s) {
            if (s.value() > bestSum) {
                bestSum = s.value();
                bestAlbum = s.key();
            }
        }
        // Its best candidate on that album; without any album, its best candidate that has none.
        const track *chosen = choose(range.first, range.second, [&](const track &c) {
            const bool onAlbum
                = bestAlbum.isNull() ? !isRealText(c.albumname) : folded(c.albumname) == bestAlbum;
            return onAlbum && fits(local, c);
        });
        track merged = local;
        if (chosen)
            mergeTrack(merged, *chosen);
        result.insert(it.key(), merged);
    }
    return result;
}

AlbumGroups TrackMerger::assignAlbums(AlbumGroups groups, QList<qint64> ids)
{
    while (!ids.isEmpty() && !groups.isEmpty())
        assignAlbumGroups(groups, ids);
    return albumTracks;
}

void TrackMerger::assignAlbumGroups(AlbumGroups &groups, QList<qint64> &ids)
{
    const QString best = largestGroupKey(groups);
    if (best.isNull()) {
        // Only empty groups are left: none can cover anything.
        groups.clear();
        return;
    }
    const QList<qint64> members = groups.value(best);
    bool covers = false;
    for (const qint64 id : members) {
        const qsizetype open = ids.indexOf(id);
        if (open >= 0) {
            ids.removeAt(open);
            covers = true;
        }
    }
    // The whole list is recorded, ids larger groups took included, so they are merged again here.
    if (covers)
        albumTracks.insert(best, members);
    groups.remove(best);
}

QString TrackMerger::largestGroupKey(const AlbumGroups &groups)
{
    QString key;
    qsizetype longest = 0;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (it->size() > longest) {
            longest = it->size();
            key = it.key();
        }
    }
    return key;
}

track TrackMerger::bestCandidateOnAlbum(
    const CandidateMap &candidates, const QString &album, qint64 id, const track *local)
{
    track result;
    const auto range = candidates.equal_range(id);
    const track *chosen = choose(range.first, range.second,
        [&](const track &c) { return folded(c.albumname) == album && (!local || fits(*local, c)); });
    if (chosen) {
        result = *chosen;
        result.id = id;
    }
    return result;
}
