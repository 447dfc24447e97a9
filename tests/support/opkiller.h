#pragma once

#include <QString>

// Kills this process at one exact file-system call below a folder, as a kill or a power cut at that
// step would: the call is not made. Also makes a drive say nothing of its room, as some drivers do.
// For a test's child process; the calls pass through untouched until armed.
namespace opkiller {

enum class Op { Mkdir, Rmdir, Unlink, Rename };

// The `nth` (from 1) call of `op` on a path below `folder`, and ending in `tail` where given, kills
// the process before it is made.
void arm(Op op, int nth, const QString &folder, const QString &tail = {});

// The same call fails with `error` instead, as a driver that finds no room after all would, and the
// process goes on; the calls after it pass through again.
void fail(Op op, int nth, const QString &folder, int error, const QString &tail = {});

// Op by its name: "mkdir", "rmdir", "unlink" or "rename"; false for another.
bool opNamed(const QString &name, Op *op);

// statvfs below `folder` reports no sizes from now on.
void hideRoom(const QString &folder);

// From now on, a file below `folder` removed within `windowMs` of its close is kept as FUSE drivers of
// libfuse's path interface keep one whose release they have not handled yet: renamed
// ".fuse_hidden<n>" in its folder, and removed `lingerMs` later, the process's end waiting for it.
void keepRemoved(const QString &folder, int windowMs, int lingerMs);

}  // namespace opkiller
