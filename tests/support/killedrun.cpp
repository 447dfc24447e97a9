#include "killedrun.h"

#include "applog.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "opkiller.h"
#include "removal.h"
#include "systeminfo.h"
#include "testenv.h"
#include "transferdetail.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <signal.h>

namespace killedrun {

namespace {

transferDetail requestFor(const QString &target)
{
    transferDetail d;
    d.destination = target;
    d.availableSpace = 1LL << 40;
    QFile xml(":resources/xml/systems.xml");
    if (xml.open(QIODevice::ReadOnly))
        readSystemInfo(&xml, "CMS-1100", &d.systemInfo);
    d.systemInfo.vehicle = "Example";
    return d;
}

// Starts the child on orders of `lines` and the tracks, and waits until it ends, however busy the
// machine: killed where told, or by the end of its run.
bool runChild(const QString &scratch, const QString &lines, const TrackMap &tracks, QProcess &child)
{
    QFile orders(scratch + "/killed-run-orders");
    if (!orders.open(QIODevice::WriteOnly))
        return false;
    orders.write(lines.toUtf8());
    for (const track &t : tracks)
        orders.write(QString("track\t%1\t%2\t%3\t%4\n")
                         .arg(t.filepath, t.albumname, t.playlist)
                         .arg(t.isVideo ? 1 : 0)
                         .toUtf8());
    orders.close();
    child.start(QCoreApplication::applicationFilePath(), {kChildFlag, orders.fileName()});
    return child.waitForFinished(-1);
}

}  // namespace

QString atStep(int step, int count)
{
    return QString("step %1 %2").arg(step).arg(count);
}

bool run(
    const QString &scratch, const QString &target, const TrackMap &tracks, const QString &at, bool roomless)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const bool ended = runChild(scratch,
        "target\t" + target + "\nkill\t" + at + "\n" + (roomless ? "roomless\n" : ""), tracks, child);
    if (child.exitStatus() != QProcess::CrashExit)
        qWarning("the child ended with %d", child.exitCode());
    return ended && child.exitStatus() == QProcess::CrashExit;
}

bool runToEnd(const QString &scratch, const QString &target, const TrackMap &tracks, const Keeping &keeping,
    const QString &log, QString *said)
{
    QProcess child;
    const bool ended = runChild(scratch,
        QString("target\t%1\nlog\t%2\nkeep\t%3 %4 %5\n")
            .arg(target, log)
            .arg(keeping.windowMs)
            .arg(keeping.lingerMs)
            .arg(keeping.boundMs),
        tracks, child);
    const QString told = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    if (said)
        *said = told;
    if (!told.isEmpty())
        qWarning("the child told: %s", qPrintable(told));
    return ended && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

int child(int argc, char *argv[])
{
    TestEnv env;
    QCoreApplication app(argc, argv);
    initKivoResources();
    QFile orders(QString::fromLocal8Bit(argv[2]));
    if (!orders.open(QIODevice::ReadOnly))
        return 2;
    QString target;
    QStringList kill, keep;
    bool roomless = false;
    TrackMap map;
    for (const QString &line : QString::fromUtf8(orders.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList parts = line.split('\t');
        if (parts.first() == "target")
            target = parts.value(1);
        else if (parts.first() == "kill")
            kill = parts.value(1).split(' ');
        else if (parts.first() == "roomless")
            roomless = true;
        else if (parts.first() == "keep")
            keep = parts.value(1).split(' ');
        else if (parts.first() == "log")
            setLogFile(appLogFile(), parts.value(1));
        else if (parts.first() == "track" && parts.size() == 5) {
            track t;
            t.id = map.size() + 1;
            t.filepath = parts.at(1);
            t.albumname = parts.at(2);
            t.playlist = parts.at(3);
            t.isVideo = parts.at(4) == "1";
            map.insert(t.id, t);
        }
    }
    opkiller::Op op;
    if (kill.size() >= 2 && opkiller::opNamed(kill.at(0), &op)) {
        opkiller::arm(op, kill.at(1).toInt(), target, kill.value(2));
    } else if (kill.size() == 3 && kill.at(0) == "step") {
        const auto step = FolderOrder::Step(kill.at(1).toInt());
        const int count = kill.at(2).toInt();
        FolderOrder::stepHook = [step, count](FolderOrder::Step at, int n) {
            if (at == step && (count < 0 || n == count))
                ::raise(SIGKILL);
        };
    }
    if (roomless)
        opkiller::hideRoom(target);
    if (keep.size() == 3) {
        opkiller::keepRemoved(target, keep.at(0).toInt(), keep.at(1).toInt());
        platform::setLetGoBound(keep.at(2).toInt());
    }
    ffmpeghandler handler;
    const TransferReport report = handler.transferTracks(map, requestFor(target));
    qWarning("child: stop %d, copied %d, kept %d, %s", int(report.stop), report.copied, report.kept,
        qPrintable((report.failures + report.notices).join("; ")));
    const QStringList told = report.failures + report.notices;
    QStringList said = told;
    // What the drive keeps of removed files as the run says it ended.
    QDirIterator kept(target, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (kept.hasNext()) {
        kept.next();
        if (platform::isDriverKept(kept.fileName()))
            said << "still kept by the drive at the end of the run: " + kept.filePath();
    }
    QTextStream(stdout) << said.join('\n');
    return report.stop == TransferReport::Completed && told.isEmpty() ? 0 : 1;
}

}  // namespace killedrun
