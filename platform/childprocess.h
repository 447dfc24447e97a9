#pragma once

#include <QtGlobal>

class QProcess;

// Children of this program never outlive it. Each tool runs in a process group of its own (so a
// wrapper script's own children end with it) and is killed by the kernel when the thread that
// started it ends, which also covers the program being killed. Whatever still runs at a normal
// exit is killed then, and as soon as the event loop ends.
namespace platform {

// Before start(): binds the child's life to this program's and keeps it in the list of children.
void bindChildToProgram(QProcess &process);
// Ends the child and every process of its group at once.
void killChild(QProcess &process);
// Kills every child started through bindChildToProgram that still runs.
void killRunningChildren();
// How many such children run now.
int runningChildCount();

}  // namespace platform
