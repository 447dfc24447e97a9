#include "trackmerger.h"

#include "repairfields.h"

#include <cmath>

namespace {

// Either text contains the other, without case; both must be real values.
bool agree(const QString &a, const QString &b)
{
    return a.contains(b, Qt::CaseInsensitive) || b.contains(a, Qt::CaseInsensitive);
}

// The number the first two characters of a title give ("07 Intro" gives 7); 0 when none.
qint64 leadingTitleNumber(const QString &title)
{
    qint64 number = 0;
    for (int i = 0; i < qMin(2, int(title.size())) && title.at(i).isDigit(); ++i)
        number = number * 10 + title.at(i).digitValue();
    return number;
}

// Seconds as a whole, non-negative figure that cannot overflow: unknown or absurd values give 0.
qint64 wholeSeconds(double seconds)
{
    return qint64(boundedSeconds(seconds));
}

}  // namespace

qint64 TrackMerger::matchScore(const track &local, const track &candidate) const
{
    // A source's own confidence counts as it is, but never below nothing.
    qint64 score = qMax<qint64>(0, candidate.score);
    if (isRealText(local.albumname) && isRealText(candidate.albumname)
        && agree(local.albumname, candidate.albumname))
        score += 120;
    score += 50;
    if (isRealText(local.artistname) && isRealText(candidate.artistname)
        && agree(local.artistname, candidate.artistname))
        score += 60;
    if (isRealTitle(local.trackname) && isRealTitle(candidate.trackname)
        && agree(local.trackname, candidate.trackname)) {
        score += 210;
        if (local.trackname.toLower() == candidate.trackname.toLower())
            score += 10;
    }
    const qint64 localSeconds = wholeSeconds(local.duration);
    const qint64 candidateSeconds = wholeSeconds(candidate.duration);
    if (localSeconds > 0 && candidateSeconds > 0)
        score += qMax<qint64>(0, 80 - qAbs(localSeconds - candidateSeconds));
    const qint64 number = local.tracknumber > 0 ? local.tracknumber : leadingTitleNumber(local.trackname);
    if (number > 0 && number == candidate.tracknumber)
        score += 60;
    return score;
}

track TrackMerger::mergeTrack(track &target, const track &source) const
{
    if ((!target.hasAlbum || !isRealText(target.albumname)) && isRealText(source.albumname)) {
        target.albumname = source.albumname.trimmed();
        target.hasAlbum = true;
    }
    if ((!target.hasArtist || !isRealText(target.artistname)) && isRealText(source.artistname)) {
        target.artistname = source.artistname.trimmed();
        target.hasArtist = true;
    }
    if ((!target.hasTitle || !isRealTitle(target.trackname)) && isRealTitle(source.trackname)) {
        target.trackname = source.trackname.trimmed();
        target.hasTitle = true;
    }
    if (!isRealText(target.genre) && isRealText(source.genre))
        target.genre = source.genre.trimmed();
    if (target.year <= 0 && source.year > 0)
        target.year = source.year;
    if (target.tracknumber <= 0 && source.tracknumber > 0)
        target.tracknumber = source.tracknumber;
    // The file's own measured length stays; a candidate's only fills an unknown one.
    if (wholeSeconds(target.duration) == 0 && wholeSeconds(source.duration) > 0)
        target.duration = boundedSeconds(source.duration);
    if (source.reservedShort3 > 0)
        target.reservedShort3 = source.reservedShort3;
    if (!source.coverUrl.trimmed().isEmpty())
        target.coverUrl = source.coverUrl;
    target.score = source.score;
    return target;
}

track TrackMerger::mergeBestCandidate(const track &local, CandidateMap &candidates) const
{
    track result = local;
    result.score = 0;
    for (auto it = candidates.begin(); it != candidates.end(); ++it)
        it->score = matchScore(local, *it);
    // A candidate that does not fit is never taken, and a tie between two recordings takes neither.
    const track *chosen = choose(std::as_const(candidates).cbegin(), std::as_const(candidates).cend(),
        [&local](const track &c) { return fits(local, c); });
    if (chosen)
        mergeTrack(result, *chosen);
    return result;
}

bool TrackMerger::fits(const track &local, const track &candidate)
{
    return lengthsFit(local.duration, candidate.duration) && albumFits(local, candidate.albumname);
}

bool TrackMerger::sameRecording(const track &a, const track &b)
{
    return comparableName(a.trackname) == comparableName(b.trackname)
        && comparableName(a.artistname) == comparableName(b.artistname)
        && comparableName(a.albumname) == comparableName(b.albumname);
}
