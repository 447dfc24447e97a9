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

    static QStringList lines(const QString &path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    // The text after "<date time in Qt::TextDate> - ", or a null string when the date is wrong.
    static QString rest(const QString &line)
    {
        const int separator = line.indexOf(" - ");
        if (separator <= 0 || !QDateTime::fromString(line.left(separator), Qt::TextDate).isValid())
            return QString();
        return line.mid(separator + 3);
    }

    // What the program does at start: the debug log in the data folder, then its first line.
    static QString startProgram(bool startFresh = true)
    {
        const QString path = QDir(AppPaths().dataDir).filePath("debug.log");
        setLogFile(appLogFile(), path, startFresh);
        writeLog(appLogFile(), "Start KiVO", "");
        return path;
    }

private slots:
    void lineShapeAndNoFile()
    {
        TestEnv env;
        AppLog log;
        writeLog(&log, "lost", "");  // no file name yet: nothing, and no crash
        writeLog(nullptr, "lost", "");
        closeLogFile(nullptr);
        const QString path = env.root() + "/logs/debug.log";
        setLogFile(&log, path);
        writeLog(&log, "Copy: ", "");
        writeLog(&log, QString::fromUtf8("Björk – Jóga "), QString::fromUtf8("日本"));
        const QStringList written = lines(path);
        QCOMPARE(written.size(), 2);
        QCOMPARE(rest(written.at(0)), "Copy: ");
        QCOMPARE(rest(written.at(1)), QString::fromUtf8("Björk – Jóga 日本"));

        // A log whose folder cannot exist (a file stands in its way) fails quietly.
        QFile(env.root() + "/blocker").open(QIODevice::WriteOnly);
        setLogFile(&log, env.root() + "/blocker/debug.log");
        writeLog(&log, "lost", "");
        QVERIFY(QFileInfo(env.root() + "/blocker").isFile());
    }

    void firstStartInAMissingFolder()
    {
        TestEnv env;
        QVERIFY(!QFileInfo::exists(env.appDataDir()));
        const QStringList debug = lines(startProgram());
        QCOMPARE(debug.size(), 1);
        QCOMPARE(rest(debug.at(0)), "Start KiVO");
        const QStringList error = lines(env.appDataDir() + "/error.log");
        QCOMPARE(error.size(), 1);
        QVERIFY(error.at(0).endsWith(" : Starting application..."));
    }

    void restartResetsButSecondInstanceAppends()
    {
        TestEnv env;
        const QString path = startProgram();
        closeLogFile(appLogFile());
        writeLog(appLogFile(), "after close", "");  // writing goes on after a close
        QCOMPARE(lines(path).size(), 2);

        startProgram();
        QCOMPARE(lines(path).size(), 1);
        QFile error(env.appDataDir() + "/error.log");
        QVERIFY(error.open(QIODevice::ReadOnly));
        const QByteArray errorBefore = error.readAll();
        error.close();

        // A second instance the user lets start keeps the running one's logs.
        startProgram(false);
        QCOMPARE(lines(path).size(), 2);
        QVERIFY(error.open(QIODevice::ReadOnly));
        QCOMPARE(error.readAll(), errorBefore);
    }

    void manyThreadsLogAtOnce()
    {
        TestEnv env;
        const QString path = env.root() + "/threads/debug.log";
        setLogFile(appLogFile(), path);
        const int threadCount = 8, linesPerThread = 400;
        // Long enough that an unguarded writer would split lines across buffer flushes.
        const QString padding(300, 'x');
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < threadCount; ++t) {
            threads.emplace_back(QThread::create([t, linesPerThread, padding] {
                for (int i = 0; i < linesPerThread; ++i)
                    writeLog(appLogFile(), QString("thread %1 line %2 ").arg(t).arg(i), padding);
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(20000));

        const QRegularExpression shape("^thread (\\d+) line (\\d+) x{300}$");
        QSet<QString> seen;
        for (const QString &line : lines(path)) {
            const QRegularExpressionMatch m = shape.match(rest(line));
            QVERIFY2(m.hasMatch(), qPrintable(line.left(80)));
            seen.insert(m.captured(1) + ":" + m.captured(2));
        }
        QCOMPARE(seen.size(), threadCount * linesPerThread);
    }
};

KIVO_TEST_MAIN(TestAppLog)
#include "tst_applog.moc"
