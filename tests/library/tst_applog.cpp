#include "applog.h"
#include "apppaths.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>

#include <memory>
#include <vector>

class TestAppLog : public QObject
{
    Q_OBJECT

private:
    static QStringList lines(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        QStringList result = QString::fromUtf8(f.readAll()).split('\n');
        if (!result.isEmpty() && result.last().isEmpty())
            result.removeLast();
        return result;
    }

    // What the program does at start: the debug log's path in the data folder, the log set up,
    // and the first line written.
    static QString startProgram(bool startFresh = true)
    {
        const AppPaths paths;
        const QString path = QDir(paths.dataDir).filePath(QStringLiteral("debug.log"));
        AppLog *log = appLogFile();
        setLogFile(log, path, startFresh);
        writeLog(log, QStringLiteral("Start KiVO"), QStringLiteral(""));
        return path;
    }

    // "<date time in Qt::TextDate> - <rest>": the date part parses back, the rest is returned.
    static bool splitLine(const QString &line, QString *rest)
    {
        const int separator = line.indexOf(QStringLiteral(" - "));
        if (separator <= 0)
            return false;
        if (!QDateTime::fromString(line.left(separator), Qt::TextDate).isValid())
            return false;
        *rest = line.mid(separator + 3);
        return true;
    }

private slots:
    void oneProcessWideLog()
    {
        QVERIFY(appLogFile() != nullptr);
        QCOMPARE(appLogFile(), appLogFile());
    }

    void lineShape()
    {
        TestEnv env;
        const QString path = env.root() + "/logs/debug.log";
        AppLog log;
        setLogFile(&log, path);
        QCOMPARE(log.fileName, path);
        writeLog(&log, "text1", "text2");
        writeLog(&log, "Copy: ", "");
        writeLog(&log, "only one");
        writeLog(&log, QString::fromUtf8("Björk – Jóga "), QString::fromUtf8("日本"));

        const QStringList written = lines(path);
        QCOMPARE(written.size(), 4);
        QString rest;
        QVERIFY(splitLine(written.at(0), &rest));
        QCOMPARE(rest, QString("text1text2"));
        QVERIFY(written.at(0).endsWith(" - text1text2"));
        QVERIFY(splitLine(written.at(1), &rest));
        QCOMPARE(rest, QString("Copy: "));
        QVERIFY(splitLine(written.at(2), &rest));
        QCOMPARE(rest, QString("only one"));
        QVERIFY(splitLine(written.at(3), &rest));
        QCOMPARE(rest, QString::fromUtf8("Björk – Jóga 日本"));
    }

    void nothingWrittenWithoutAFile()
    {
        TestEnv env;
        AppLog log;
        writeLog(&log, "lost", "");  // no file name yet: nothing, and no crash
        writeLog(nullptr, "lost", "");
        closeLogFile(nullptr);
        QVERIFY(QDir(env.dataHome()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

        // A log whose folder cannot exist (a file stands in its way) fails quietly.
        QFile blocker(env.root() + "/blocker");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        setLogFile(&log, env.root() + "/blocker/debug.log");
        writeLog(&log, "lost", "");
        QVERIFY(QFileInfo(env.root() + "/blocker").isFile());
    }

    void firstStartInAMissingFolder()
    {
        TestEnv env;
        QVERIFY(!QFileInfo::exists(env.appDataDir()));
        const QString path = startProgram();
        QCOMPARE(path, env.appDataDir() + "/debug.log");

        const QStringList debug = lines(path);
        QCOMPARE(debug.size(), 1);
        QVERIFY(debug.at(0).endsWith(" - Start KiVO"));

        const QStringList error = lines(env.appDataDir() + "/error.log");
        QCOMPARE(error.size(), 1);
        QVERIFY(error.at(0).endsWith(" : Starting application..."));
        QVERIFY(QDateTime::fromString(error.at(0).section(" : ", 0, 0), Qt::TextDate).isValid());
    }

    void secondStartResetsTheLogs()
    {
        TestEnv env;
        const QString path = startProgram();
        writeLog(appLogFile(), "first run line", "");
        writeLog(appLogFile(), "Closed KiVO", "");
        closeLogFile(appLogFile());
        QCOMPARE(lines(path).size(), 3);

        startProgram();
        writeLog(appLogFile(), "second run line", "");
        const QStringList debug = lines(path);
        QCOMPARE(debug.size(), 2);
        QVERIFY(debug.at(0).endsWith(" - Start KiVO"));
        QVERIFY(debug.at(1).endsWith(" - second run line"));
        QCOMPARE(lines(env.appDataDir() + "/error.log").size(), 1);
    }

    void secondInstanceAppends()
    {
        TestEnv env;
        const QString path = startProgram();
        writeLog(appLogFile(), "first instance", "");
        QFile error(env.appDataDir() + "/error.log");
        QVERIFY(error.open(QIODevice::ReadOnly));
        const QByteArray errorBefore = error.readAll();
        error.close();

        // A second instance the user lets start keeps the running one's logs.
        startProgram(false);
        const QStringList debug = lines(path);
        QCOMPARE(debug.size(), 3);
        QVERIFY(debug.at(1).endsWith(" - first instance"));
        QVERIFY(debug.at(2).endsWith(" - Start KiVO"));
        QVERIFY(error.open(QIODevice::ReadOnly));
        QCOMPARE(error.readAll(), errorBefore);
    }

    void manyThreadsLogAtOnce()
    {
        TestEnv env;
        const QString path = env.root() + "/threads/debug.log";
        AppLog *log = appLogFile();
        setLogFile(log, path);

        const int threadCount = 8;
        const int linesPerThread = 400;
        // Long enough that an unguarded writer would split lines across buffer flushes.
        const QString padding(300, QLatin1Char('x'));
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back(QThread::create([log, t, linesPerThread, padding] {
                for (int i = 0; i < linesPerThread; ++i)
                    writeLog(log, QStringLiteral("thread %1 line %2 ").arg(t).arg(i), padding);
            }));
        }
        for (auto &thread : threads)
            thread->start();
        for (auto &thread : threads)
            QVERIFY(thread->wait(20000));

        const QStringList written = lines(path);
        QCOMPARE(written.size(), threadCount * linesPerThread);
        const QRegularExpression shape(QStringLiteral("^thread (\\d+) line (\\d+) x{300}$"));
        QSet<QString> seen;
        for (const QString &line : written) {
            QString rest;
            QVERIFY2(splitLine(line, &rest), qPrintable(line.left(80)));
            const QRegularExpressionMatch m = shape.match(rest);
            QVERIFY2(m.hasMatch(), qPrintable(rest.left(80)));
            seen.insert(m.captured(1) + ":" + m.captured(2));
        }
        QCOMPARE(seen.size(), threadCount * linesPerThread);
    }

    void writingContinuesAfterClose()
    {
        TestEnv env;
        const QString path = startProgram();
        closeLogFile(appLogFile());
        writeLog(appLogFile(), "late line", "");
        QCOMPARE(lines(path).size(), 2);
    }
};

KIVO_TEST_MAIN(TestAppLog)
#include "tst_applog.moc"
