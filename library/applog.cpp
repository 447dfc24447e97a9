#include "applog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTextStream>

AppLog *appLogFile()
{
    static AppLog *const log = new AppLog;
    return log;
}

void setLogFile(AppLog *log, const QString &path, bool startFresh)
{
    const QString folder = QFileInfo(path).absolutePath();
    // Made before the first line, so "Start KiVO" is not lost on a first start.
    QDir().mkpath(folder);
    {
        QMutexLocker lock(&log->mutex);
        if (log->file.isOpen())
            log->file.close();
        log->fileName = path;
        // A fresh start begins a fresh debug log; a second instance appends to the first's.
        if (startFresh)
            QFile::remove(path);
    }
    if (startFresh)
        startErrorLog(folder);
}

void writeLog(AppLog *log, const QString &text1, const QString &text2)
{
    if (!log)
        return;
    QMutexLocker lock(&log->mutex);
    if (log->fileName.isEmpty())
        return;
    // Kept open between lines: opening the file for each one cost more than a transfer's copy.
    if (!log->file.isOpen()) {
        log->file.setFileName(log->fileName);
        if (!log->file.open(QIODevice::Append | QIODevice::Text))
            return;
    }
    log->file.write((QDateTime::currentDateTime().toString(Qt::TextDate) + QStringLiteral(" - ") + text1
        + text2 + QLatin1Char('\n'))
                        .toUtf8());
    log->file.flush();
}

void startErrorLog(const QString &folder)
{
    QFile out(QDir(folder).filePath(QStringLiteral("error.log")));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream stream(&out);
    stream << QDateTime::currentDateTime().toString(Qt::TextDate) << " : Starting application..." << '\n';
}

void closeLogFile(AppLog *log)
{
    if (!log)
        return;
    QMutexLocker lock(&log->mutex);
    if (log->file.isOpen())
        log->file.close();
}
