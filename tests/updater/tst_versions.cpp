#include "swavailableupdate.h"
#include "swignoredversions.h"
#include "swplatform.h"
#include "testenv.h"
#include "versioncomparator.h"

#include <QApplication>
#include <QSettings>

class TestVersions : public QObject
{
    Q_OBJECT

private:
    static QSettings *settings()
    {
        return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
            QStringLiteral("Corvane-Media-Rarazarur"));
    }

private slots:
    void splitting_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArrayList>("parts");
        QTest::newRow("empty") << QByteArray() << QByteArrayList{};
        QTest::newRow("double point") << QByteArray("1..2") << QByteArrayList{"1", ".", ".", "2"};
        QTest::newRow("suffix and blank")
            << QByteArray("3.10-rc 1") << QByteArrayList{"3", ".", "10", "-", "rc", " ", "1"};
        QTest::newRow("utf-8 text stays one part")
            << QByteArray("4.0\xce\xb2") << QByteArrayList{"4", ".", "0", "\xce\xb2"};
    }

    void splitting()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArrayList, parts);
        QCOMPARE(VersionComparator::split(version), parts);
    }

    void partTypes()
    {
        QCOMPARE(VersionComparator::typeOfPart("."), 2);
        QCOMPARE(VersionComparator::typeOfPart("12"), 0);
        QCOMPARE(VersionComparator::typeOfPart("-"), 2);
        QCOMPARE(VersionComparator::typeOfPart(" "), 2);
        QCOMPARE(VersionComparator::typeOfPart("beta"), 1);
        // Bytes above 127 are text, never a digit or a separator (and never undefined behaviour).
        QCOMPARE(VersionComparator::typeOfPart("\xff"), 1);
        QCOMPARE(VersionComparator::typeOfPart("\xc2\xb2"), 1);
        QCOMPARE(VersionComparator::typeOfPart("\xd9\xa3"), 1);
    }

    void comparison_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("equal") << QByteArray("3.9") << QByteArray("3.9") << 0;
        QTest::newRow("longer number part") << QByteArray("3.9") << QByteArray("3.9.1") << -1;
        QTest::newRow("text suffix is older") << QByteArray("3.9") << QByteArray("3.9b") << 1;
        QTest::newRow("by value not bytes") << QByteArray("3.9") << QByteArray("3.10") << -1;
        QTest::newRow("2.0 vs 10.0") << QByteArray("2.0") << QByteArray("10.0") << -1;
        QTest::newRow("prefix text is older") << QByteArray("1.0b") << QByteArray("1.0beta") << -1;
        QTest::newRow("a before b") << QByteArray("1.0a") << QByteArray("1.0b") << -1;
        QTest::newRow("leading zero") << QByteArray("3.9") << QByteArray("3.09") << 0;
        QTest::newRow("any separator") << QByteArray("3.9") << QByteArray("3_9") << 0;
        QTest::newRow("hyphen vs point") << QByteArray("4-0") << QByteArray("4.0") << 0;
        QTest::newRow("pre-release") << QByteArray("4.0b") << QByteArray("4.0") << -1;
        QTest::newRow("extra zero part") << QByteArray("4.0.0") << QByteArray("4.0") << 1;
        QTest::newRow("text below number") << QByteArray("a") << QByteArray("1") << -1;
        QTest::newRow("text below separator") << QByteArray("1a") << QByteArray("1.") << -1;
        QTest::newRow("separator below number") << QByteArray(".") << QByteArray("1") << -1;
        QTest::newRow("empty vs number") << QByteArray() << QByteArray("1") << -1;
        QTest::newRow("empty vs text") << QByteArray() << QByteArray("a") << 1;
        QTest::newRow("both empty") << QByteArray() << QByteArray() << 0;
        QTest::newRow("all zeros") << QByteArray("000") << QByteArray("0") << 0;
        QTest::newRow("rc blank") << QByteArray("3.10-rc 1") << QByteArray("3.10-rc 2") << -1;
        // Longer than any integer type: compared by value without overflow.
        QTest::newRow("long equal by value")
            << QByteArray("1.000000000000000000000000000000000000042") << QByteArray("1.42") << 0;
        QTest::newRow("long greater") << QByteArray("3.99999999999999999999999999999")
                                      << QByteArray("3.99999999999999999999999999998") << 1;
        QTest::newRow("long vs short") << QByteArray("3.4294967296") << QByteArray("3.4294967295") << 1;
        QTest::newRow("int overflow") << QByteArray("3.2147483648") << QByteArray("3.9") << 1;
        QTest::newRow("very long vs 9")
            << QByteArray("1." + QByteArray(500, '9')) << QByteArray("1." + QByteArray(499, '9')) << 1;
        // Bytes above 127 compare unsigned: a UTF-8 letter sorts after every ASCII letter.
        QTest::newRow("non-ascii text") << QByteArray("4.0z") << QByteArray("4.0\xc3\xa9") << -1;
        QTest::newRow("non-ascii suffix is pre-release")
            << QByteArray("4.0\xce\xb2") << QByteArray("4.0") << -1;
        QTest::newRow("high byte vs number") << QByteArray("\xff") << QByteArray("1") << -1;
        QTest::newRow("arabic-indic digit is text") << QByteArray("\xd9\xa4") << QByteArray("3") << -1;
    }

    void comparison()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, expected);
        QCOMPARE(VersionComparator::compare(a, b), expected);
        QCOMPARE(VersionComparator::compare(b, a), -expected);
    }

    // A skip is stored in the settings, honoured on the next decision and replaced by a later one.
    void skippedVersions()
    {
        {
            std::unique_ptr<QSettings> s(settings());
            s->clear();
        }
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("3.9")));
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("3.8")));
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("3.9b")));
        QVERIFY(!SWIgnoredVersions::isIgnored(QStringLiteral("4.0")));
        QVERIFY(!SWIgnoredVersions::isIgnored(QStringLiteral("3.10")));

        SWIgnoredVersions::ignore(QStringLiteral("4.0"));
        {
            std::unique_ptr<QSettings> s(settings());
            QCOMPARE(s->value(QStringLiteral("SWLatestSkippedVersion")).toString(), QStringLiteral("4.0"));
            QVERIFY(s->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME") + QLatin1Char('/')));
        }
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("4.0")));
        QVERIFY(!SWIgnoredVersions::isIgnored(QStringLiteral("4.1")));

        // The running version and an empty text never replace the stored one.
        SWIgnoredVersions::ignore(QStringLiteral("3.9"));
        SWIgnoredVersions::ignore(QString());
        {
            std::unique_ptr<QSettings> s(settings());
            QCOMPARE(s->value(QStringLiteral("SWLatestSkippedVersion")).toString(), QStringLiteral("4.0"));
        }

        SWIgnoredVersions::ignore(QStringLiteral("4.1"));
        QVERIFY(!SWIgnoredVersions::isIgnored(QStringLiteral("4.0")));
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("4.1")));
    }

    // Versions outside ASCII are read as UTF-8 text, not narrowed to "?" separators.
    void nonAsciiCandidate()
    {
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("3.9\u03b2")));
        QVERIFY(!SWIgnoredVersions::isIgnored(QStringLiteral("4.0\u03b2")));
        QVERIFY(SWIgnoredVersions::isIgnored(QStringLiteral("\u0664.0")));
    }

    void platform_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("matches");
        QTest::addColumn<QString>("rewritten");
#ifdef Q_OS_WIN
        QTest::newRow("windows padded") << " q_os_win32 " << true << "Q_OS_WIN32";
        QTest::newRow("linux") << "linux" << false << "LINUX";
#else
        QTest::newRow("linux padded") << " linux\t" << true << "LINUX";
        QTest::newRow("linux upper") << "LINUX" << true << "LINUX";
        QTest::newRow("windows") << " q_os_win32 " << false << "Q_OS_WIN32";
#endif
        QTest::newRow("mac") << "q_os_mac" << false << "Q_OS_MAC";
        QTest::newRow("empty") << "   " << false << "";
    }

    void platform()
    {
        QFETCH(QString, name);
        QFETCH(bool, matches);
        QFETCH(QString, rewritten);
        QCOMPARE(SwPlatform::matchesCurrentPlatform(name), matches);
        QCOMPARE(name, rewritten);
    }

    void proposalSetters()
    {
        SwAvailableUpdate u;
        QVERIFY(u.releaseNotesLink().isEmpty());
        QCOMPARE(u.enclosureLength(), 0ul);
        u.setReleaseNotesLink(QStringLiteral("http://example.invalid/notes.html"));
        u.setEnclosureUrl(QUrl(QStringLiteral("https://example.invalid/setup.exe")));
        QCOMPARE(u.releaseNotesLink().path(), QStringLiteral("/notes.html"));
        QCOMPARE(u.enclosureUrl().scheme(), QStringLiteral("https"));
    }
};

KIVO_TEST_MAIN(TestVersions)
#include "tst_versions.moc"
