#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

// The process's debug log ("debug.log" in the data folder). Every line is complete in the file
// when writeLog returns, and lines written from several threads never interleave.
struct AppLog {
    QString fileName;
    QFile file;
    QMutex mutex;
};

// The one log object of the process, created on first use and never destroyed.
AppLog *appLogFile();

// Stores the debug log's path (making its folder), empties an existing debug log and rewrites
// "error.log" beside it. A second instance passes startFresh false, so the logs of the one
// already running are kept and appended to.
void setLogFile(AppLog *log, const QString &path, bool startFresh = true);

// Appends "<date time> - <text1><text2>" to the debug log; nothing before setLogFile.
void writeLog(AppLog *log, const QString &text1, const QString &text2 = QString());

// Empties "error.log" in the data folder and writes its one start-up line.
void startErrorLog(const QString &folder);

void closeLogFile(AppLog *log);
