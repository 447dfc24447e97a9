#include "tempfiles.h"
#include "testenv.h"

#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <unistd.h>

namespace {

bool stale(const QString &name, platform::OwnTemporaries own = platform::OwnTemporaries::InUse)
{
    return platform::isStaleTemporary(name, own);
}

QString nameOf(qint64 pid, qint64 started)
{
    return QString(".kivo-%1.%2-1.order").arg(pid).arg(started);
}

}  // namespace

// A temporary's writer is known by its process id and the time that process started: ids are
// given out again, and a process that took a killed run's id does not keep that run's files.
class TestTempFiles : public QObject
{
    Q_OBJECT

private slots:
    void writerIsToldByItsStart()
    {
        const qint64 me = ::getpid();
        const qint64 started = platform::processStartTime(me);
        QVERIFY(started > 0);
        const QString mine = QFileInfo(platform::temporaryPath("/nowhere", "order")).fileName();
        QVERIFY2(mine.startsWith(QString(".kivo-%1.%2-").arg(me).arg(started)) && mine.endsWith(".order"),
            qPrintable(mine));
        QCOMPARE(platform::temporaryWriter(mine), me);
        QVERIFY(!stale(mine) && stale(mine, platform::OwnTemporaries::Stale));
        // An earlier process with this id wrote it.
        QVERIFY(stale(nameOf(me, started - 1)));

        // Another run of the same program.
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {"--wait"});
        QVERIFY(other.waitForStarted(-1));
        const qint64 pid = other.processId();
        const qint64 otherStarted = platform::processStartTime(pid);
        QVERIFY(otherStarted >= started);
        QVERIFY(!stale(nameOf(pid, otherStarted)));
        QVERIFY(stale(nameOf(pid, otherStarted + 1)));
        // Names of earlier builds say only the id.
        QVERIFY(!stale(QString(".kivo-%1-1.order").arg(pid)));
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(-1));
        QVERIFY(stale(nameOf(pid, otherStarted)));
        QVERIFY(!stale(".kivo-notes.txt") && !stale("song.mp3"));
    }
};

// Waits until its input ends.
static int waitChild(int, char **)
{
    while (std::getchar() != EOF) { }
    return 0;
}

KIVO_TEST_MAIN_WITH_CHILD(TestTempFiles, "--wait", waitChild)
#include "tst_tempfiles.moc"
