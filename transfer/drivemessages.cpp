#include "drivemessages.h"

#include <QFileInfo>

QString DriveMessages::endOfTransfer(const TransferReport &report, int total, const QString &logPath) const
{
    const int failed = int(report.failures.size());
    const int plain = report.copied - report.transcoded - report.replaced;
    const QString tally
        = counts.arg(plain).arg(report.transcoded).arg(report.kept).arg(report.replaced).arg(failed);
    const QString arrived = filesArrived.arg(report.copied).arg(total);
    // The file the run stopped at is its last failure; it is named in the headline instead.
    const QString stoppedAt
        = report.failures.isEmpty() ? QString() : report.failures.last().section(QStringLiteral(": "), 0, 0);
    const QString where = QFileInfo(report.stopPath).fileName().isEmpty()
        ? report.stopPath
        : QFileInfo(report.stopPath).fileName();
    QString text;
    switch (report.stop) {
    case TransferReport::Completed:
        text = transferDone.arg(total).arg(tally);
        break;
    case TransferReport::Cancelled:
        text = transferStopped.arg(report.handled).arg(total).arg(tally);
        break;
    case TransferReport::DiskFull:
        text = driveFull + QStringLiteral(": ") + arrived + QStringLiteral(" — ") + tally + QLatin1Char('.');
        break;
    case TransferReport::DriveRemoved:
        text
            = diskRemoved + QStringLiteral(": ") + arrived + QStringLiteral(" — ") + tally + QLatin1Char('.');
        break;
    case TransferReport::ReadOnly:
        text = readOnly.arg(report.stopPath, report.stopReason) + QLatin1Char('\n') + arrived
            + QStringLiteral(" — ") + tally + QLatin1Char('.');
        break;
    case TransferReport::FolderGone:
        text = folderGone.arg(report.stopPath).arg(report.copied).arg(total) + QLatin1Char('\n') + tally
            + QLatin1Char('.');
        break;
    case TransferReport::WriteError:
        text = writeError.arg(stoppedAt.isEmpty() ? where : stoppedAt, report.stopReason) + QLatin1Char('\n')
            + arrived + QStringLiteral(" — ") + tally + QLatin1Char('.');
        break;
    }
    if (!report.notices.isEmpty()) {
        text += QStringLiteral("\n\n") + aboutTheDrive;
        for (const QString &notice : report.notices)
            text += QLatin1Char('\n') + notice + QLatin1Char('.');
    }
    if (failed > 0) {
        text += QStringLiteral("\n\n") + filesFailed + QLatin1Char('\n')
            + report.failures.mid(0, 10).join(QLatin1Char('\n'));
        text += QLatin1Char('\n')
            + (failed > 10 ? moreInLog.arg(failed - 10).arg(logPath) : seeLog.arg(logPath));
    }
    return text;
}
