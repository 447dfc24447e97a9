#pragma once

#include "track.h"

#include <QString>

// One transfer run in a child process of the test that dies at an exact point, as a kill or a
// power cut there would: at a step of an arrange ("step <step> <count>", a count of -1 for any),
// or before a file-system call below the target ("rmdir 2 parked.2": the second rmdir of a path
// ending in "parked.2"). The test's main hands `kChildFlag` to `child` (KIVO_TEST_MAIN_WITH_CHILD).
namespace killedrun {

inline constexpr char kChildFlag[] = "--killed-run";

// Runs `tracks` onto `target` in the child, its orders written in `scratch`; with `roomless` the
// drive says nothing of its room. True when the child died where it was told.
bool run(const QString &scratch, const QString &target, const TrackMap &tracks, const QString &at,
    bool roomless = false);

// How the child's drive keeps files removed just after their close (opkiller::keepRemoved), and how
// long the program waits for them (0: its own bound).
struct Keeping {
    int windowMs = 0;
    int lingerMs = 0;
    int boundMs = 0;
};

// Runs `tracks` onto `target` in the child to its end, its drive keeping removed files as `keeping`
// says, its log written to `log`. True when the run ended complete and told nothing, no failure and
// no notice; `said` (when given) gets what it told, and what the drive still kept as it ended.
bool runToEnd(const QString &scratch, const QString &target, const TrackMap &tracks, const Keeping &keeping,
    const QString &log, QString *said = nullptr);

// "step <step> <count>" for `run`.
QString atStep(int step, int count);

int child(int argc, char *argv[]);

}  // namespace killedrun
