#include "testenv.h"
#include "toolpaths.h"

#include <QApplication>
#include <QDir>
#include <QFile>

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
