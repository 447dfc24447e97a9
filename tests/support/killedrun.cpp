#include "killedrun.h"

#include "ffmpeghandler.h"
#include "folderorder.h"
#include "opkiller.h"
#include "systeminfo.h"
#include "testenv.h"
#include "transferdetail.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

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

}  // namespace

QString atStep(int step, int count)
{
    return QString("step %1 %2").arg(step).arg(count);
}

bool run(
    const QString &scratch, const QString &target, const TrackMap &tracks, const QString &at, bool roomless)
{
    QFile orders(scratch + "/killed-run-orders");
    if (!orders.open(QIODevice::WriteOnly))
        return false;
    orders.write(("target\t" + target + "\nkill\t" + at + "\n").toUtf8());
    if (roomless)
        orders.write("roomless\n");
    for (const track &t : tracks)
        orders.write(QString("track\t%1\t%2\t%3\t%4\n")
                         .arg(t.filepath, t.albumname, t.playlist)
                         .arg(t.isVideo ? 1 : 0)
                         .toUtf8());
    orders.close();
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {kChildFlag, orders.fileName()});
    // However busy the machine, the child ends: killed where told, or by the end of its run.
    const bool ended = child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::CrashExit)
        qWarning("the child ended with %d", child.exitCode());
    return ended && child.exitStatus() == QProcess::CrashExit;
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
    QStringList kill;
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
    ffmpeghandler handler;
    const TransferReport report = handler.transferTracks(map, requestFor(target));
    qWarning("child: stop %d, copied %d, kept %d, %s", int(report.stop), report.copied, report.kept,
        qPrintable((report.failures + report.notices).join("; ")));
    return 0;
}

}  // namespace killedrun
