#pragma once

#include "filecopy.h"

#include <QString>
#include <QStringList>

// Removals on a drive, done when the drive shows them done. A FUSE driver built on libfuse's path
// interface (fusefat, and others mounted without "hard_remove") counts a file open until it has
// handled the kernel's release, which comes after close() has returned: a file removed before that
// is renamed ".fuse_hidden…" in its folder and removed only once released, a moment later (or never,
// on a stick pulled meanwhile). A folder holding one cannot be removed yet.
namespace platform {

// Whether `name` is one such a driver gives a file it keeps after its removal.
bool isDriverKept(const QString &name);

// How long a removal waits for a driver to let go of what it keeps. A busy machine's release comes
// within milliseconds; 2 s by default.
int letGoBound();
// For tests, in milliseconds; 0 or less restores the default.
void setLetGoBound(int milliseconds);

// Removes the files `paths` (a missing one counts as gone) and waits, up to letGoBound() for them
// all, until the drive no longer keeps any of them under a name of its own. Only those files are
// waited for: what a driver kept of others (a pulled stick's, say) is not.
CopyOutcome removeFiles(const QStringList &paths);
inline CopyOutcome removeFile(const QString &path)
{
    return removeFiles({path});
}

// Waits, up to letGoBound(), until `folder` lists no name a driver keeps of a removed file; the
// names still there after that (empty when none).
QStringList awaitLetGo(const QString &folder);

// Removes the folder `path`, empty but, perhaps, for what a driver still keeps of removed files,
// which it waits for as awaitLetGo does. The outcome says why a folder stays.
CopyOutcome removeFolder(const QString &path);

}  // namespace platform
