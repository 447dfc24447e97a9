#include "childprocess.h"
#include "testenv.h"
#include "toolhealth.h"
#include "toolpaths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <csignal>

using platform::Tool;

class TestToolPaths : public QObject
{
    Q_OBJECT

private:
    // An executable shell script that prints its own name, so a test can tell which copy ran.
    static QString makeFakeTool(const QString &path, const QByteArray &marker)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\necho " + marker + "\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return QFileInfo(path).absoluteFilePath();
    }

    static QString makeScript(const QString &path, const QByteArray &body)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return {};
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

    // A process that is gone, or dead and only waiting to be reaped.
    static bool isGone(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        return close < 0 || line.mid(close + 2, 1) == "Z";
    }

    QString m_savedPath;
    QString m_savedCwd;

private slots:
    void init()
    {
        m_savedPath = qEnvironmentVariable("PATH");
        m_savedCwd = QDir::currentPath();
        for (Tool t : {Tool::Ffmpeg, Tool::Ffprobe, Tool::Fpcalc})
            qunsetenv(platform::toolEnvironmentKey(t).toLatin1().constData());
    }

    void cleanup()
    {
        qputenv("PATH", m_savedPath.toLocal8Bit());
        QDir::setCurrent(m_savedCwd);
        for (Tool t : {Tool::Ffmpeg, Tool::Ffprobe, Tool::Fpcalc})
            qunsetenv(platform::toolEnvironmentKey(t).toLatin1().constData());
    }

    void lookUpOrder_data()
    {
        QTest::addColumn<int>("tool");
        QTest::newRow("ffmpeg") << int(Tool::Ffmpeg);
        QTest::newRow("ffprobe") << int(Tool::Ffprobe);
        QTest::newRow("fpcalc") << int(Tool::Fpcalc);
    }

    // Each step of the order wins over the ones after it and gives way to the ones before it.
    void lookUpOrder()
    {
        QFETCH(int, tool);
        const Tool t = Tool(tool);
        TestEnv env;
        const QString name = platform::toolName(t);
        const QString onPath = makeFakeTool(env.root() + "/bin/" + name, "path");
        const QString relative
            = makeFakeTool(env.root() + "/work/" + platform::toolRelativePath(t), "relative");
        const QString overridden = makeFakeTool(env.root() + "/elsewhere/my-" + name, "override");

        qputenv("PATH", QFile::encodeName(env.root() + "/bin"));
        QDir::setCurrent(env.root());
        QCOMPARE(platform::locateTool(t).path, onPath);

        QDir::setCurrent(env.root() + "/work");
        QCOMPARE(platform::locateTool(t).path, relative);

        qputenv(platform::toolEnvironmentKey(t).toLatin1().constData(), QFile::encodeName(overridden));
        QCOMPARE(platform::locateTool(t).path, overridden);

        const platform::ToolResult ran = platform::runTool(t, {});
        QVERIFY2(ran.ok(), qPrintable(ran.error));
        QCOMPARE(ran.standardOutput.trimmed(), QByteArray("override"));
    }

    // A missing tool must fail with a message, never hand back an empty program to run.
    void missingToolFailsClearly()
    {
        TestEnv env;
        qputenv("PATH", QFile::encodeName(env.root() + "/empty"));
        QDir::setCurrent(env.root());
        const platform::ToolPath located = platform::locateTool(Tool::Fpcalc);
        QVERIFY(!located.found());
        QVERIFY(located.error.contains("fpcalc"));
        QVERIFY(located.error.contains("KIVO_FPCALC"));

        const platform::ToolResult ran = platform::runTool(Tool::Fpcalc, {"-version"});
        QVERIFY(!ran.started);
        QVERIFY(!ran.ok());
        QVERIFY(ran.error.contains("not found"));

        // An override naming no executable is an error, not a fall-through to the PATH copy.
        makeFakeTool(env.root() + "/bin/ffprobe", "path");
        qputenv("PATH", QFile::encodeName(env.root() + "/bin"));
        qputenv("KIVO_FFPROBE", QFile::encodeName(env.root() + "/missing-ffprobe"));
        const platform::ToolPath overridden = platform::locateTool(Tool::Ffprobe);
        QVERIFY(!overridden.found());
        QVERIFY(overridden.error.contains("KIVO_FFPROBE"));
    }

    void failingAndHangingToolsAreReported()
    {
        TestEnv env;
        const QString script = env.root() + "/tool";
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nif [ \"$1\" = hang ]; then sleep 30; fi\necho out; echo err >&2; exit 3\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        qputenv("KIVO_FFMPEG", QFile::encodeName(script));

        const platform::ToolResult failed = platform::runTool(Tool::Ffmpeg, {"go"});
        QVERIFY(failed.started);
        QCOMPARE(failed.exitCode, 3);
        QVERIFY(!failed.ok());
        QCOMPARE(failed.standardOutput.trimmed(), QByteArray("out"));
        QCOMPARE(failed.standardError.trimmed(), QByteArray("err"));

        const platform::ToolResult hung = platform::runTool(Tool::Ffmpeg, {"hang"}, 300);
        QVERIFY(hung.timedOut);
        QVERIFY(!hung.ok());
    }

    // A tool that goes quiet is ended by the watchdog even with no limit on the whole run, while
    // one that keeps printing runs past that limit; two failures of its own set it aside.
    void quietToolsAreEndedAndSetAside()
    {
        TestEnv env;
        const QString script = makeScript(env.root() + "/tool",
            "case \"$1\" in hang) exec sleep 30;; chatty) for i in 1 2 3 4 5 6 7 8 9 10; do echo x; "
            "sleep 0.1; done;; esac\nexit 0");
        qputenv("KIVO_FFMPEG", QFile::encodeName(script));
        platform::ToolHealth health;
        platform::RunOptions options;
        options.timeoutMs = -1;
        options.stallLimitMs = 1000;
        options.subject = "song.flac";
        options.health = &health;

        const platform::ToolResult chatty = platform::runTool(Tool::Ffmpeg, {"chatty"}, options);
        QVERIFY2(chatty.ok(), qPrintable(chatty.error));
        QCOMPARE(chatty.standardOutput.count('x'), 10);

        const platform::ToolResult hung = platform::runTool(Tool::Ffmpeg, {"hang"}, options);
        QVERIFY(hung.stalled && hung.broken && !hung.justSetAside);
        QVERIFY2(hung.error.startsWith("ffmpeg stopped responding on song.flac"), qPrintable(hung.error));
        QVERIFY(health.usable(Tool::Ffmpeg));
        const platform::ToolResult again = platform::runTool(Tool::Ffmpeg, {"hang"}, options);
        QVERIFY(again.stalled && again.justSetAside);
        QVERIFY(again.error.contains("not tried again"));
        const platform::ToolResult skipped = platform::runTool(Tool::Ffmpeg, {"chatty"}, options);
        QVERIFY(skipped.setAside && !skipped.started && !skipped.ok());
        QCOMPARE(platform::runningChildCount(), 0);

        // A missing tool counts as well; another tool is not touched by it.
        qputenv("KIVO_FPCALC", "/nonexistent/fpcalc");
        QVERIFY(platform::runTool(Tool::Fpcalc, {}, options).broken);
        QVERIFY(platform::runTool(Tool::Fpcalc, {}, options).justSetAside);
        QVERIFY(!health.usable(Tool::Fpcalc));
        QVERIFY(health.usable(Tool::Ffprobe));
    }

    // Run as a helper by childrenDieWithTheProgram: holds a tool that never ends.
    void childHoldsTool()
    {
        const QString pidFile = qEnvironmentVariable("KIVO_CHILD_TOOL");
        if (pidFile.isEmpty())
            QSKIP("only as a helper process");
        const QString script
            = makeScript(pidFile + ".sh", "echo $$ > \"" + QFile::encodeName(pidFile) + "\"\nexec sleep 300");
        qputenv("KIVO_FFMPEG", QFile::encodeName(script));
        platform::runTool(Tool::Ffmpeg, {}, -1);
    }

    // A program killed outright takes its running tool with it.
    void childrenDieWithTheProgram()
    {
        TestEnv env;
        const QString pidFile = env.root() + "/tool.pid";
        QProcess helper;
        QProcessEnvironment helperEnv = QProcessEnvironment::systemEnvironment();
        helperEnv.insert("KIVO_CHILD_TOOL", pidFile);
        helper.setProcessEnvironment(helperEnv);
        helper.start(QCoreApplication::applicationFilePath(), {"childHoldsTool"});
        QVERIFY(helper.waitForStarted(-1));
        qint64 pid = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile file(pidFile);
                pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
                return pid > 0;
            }(),
            20000);
        QVERIFY(!isGone(pid));
        ::kill(pid_t(helper.processId()), SIGKILL);
        QVERIFY(helper.waitForFinished(-1));
        QTRY_VERIFY_WITH_TIMEOUT(isGone(pid), 60000);
    }

    void realToolsAreFoundOnThisMachine()
    {
        for (Tool t : {Tool::Ffmpeg, Tool::Ffprobe, Tool::Fpcalc}) {
            const platform::ToolPath located = platform::locateTool(t);
            QVERIFY2(located.found(), qPrintable(located.error));
        }
        const platform::ToolResult version = platform::runTool(Tool::Ffprobe, {"-version"});
        QVERIFY2(version.ok(), qPrintable(version.error));
        QVERIFY(version.standardOutput.startsWith("ffprobe version"));
    }

    void testEnvKeepsUserFoldersAway()
    {
        const QByteArray outerData = qgetenv("XDG_DATA_HOME");
        {
            TestEnv env;
            QVERIFY(env.isValid());
            QCOMPARE(qEnvironmentVariable("XDG_DATA_HOME"), env.dataHome());
            QCOMPARE(qEnvironmentVariable("XDG_CONFIG_HOME"), env.configHome());
            QCOMPARE(QDir::homePath(), env.home());
        }
        QCOMPARE(qgetenv("XDG_DATA_HOME"), outerData);
    }
};

KIVO_TEST_MAIN(TestToolPaths)
#include "tst_toolpaths.moc"
