#include "swignoredversions.h"
#include "testenv.h"
#include "versioncomparator.h"

#include <QApplication>

class TestVersions : public QObject
{
    Q_OBJECT

private slots:
    void comparison_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *name, const QByteArray &a, const QByteArray &b, int expected) {
            QTest::newRow(name) << a << b << expected;
        };
        row("equal", "3.9", "3.9", 0);
        row("longer number part", "3.9", "3.9.1", -1);
        // Trailing zero parts name the same version; anything else after them does not.
        row("extra zero part", "4.0.0", "4.0", 0);
        row("extra zero parts", "3.9", "3.9_0.00", 0);
        row("zero then more", "3.9.0.1", "3.9", 1);
        row("text suffix is a pre-release", "3.9", "3.9b", 1);
        row("by value not bytes", "3.9", "3.10", -1);
        row("prefix text is older", "1.0b", "1.0beta", -1);
        row("leading zero", "3.9", "3.09", 0);
        row("any separator", "3.9", "3_9", 0);
        row("double separator", "1..2", "1.2", -1);
        row("text below number", "a", "1", -1);
        row("text below separator", "1a", "1.", -1);
        row("separator below number", ".", "1", -1);
        row("empty vs number", "", "1", -1);
        row("empty vs text", "", "a", 1);
        row("rc blank", "3.10-rc 1", "3.10-rc 2", -1);
        // Longer than any integer type: compared by value without overflow.
        row("long equal by value", "1.000000000000000000000000000000000000042", "1.42", 0);
        row("past 32 bits", "3.4294967296", "3.4294967295", 1);
        row("very long", "1." + QByteArray(500, '9'), "1." + QByteArray(499, '9'), 1);
        // Bytes above 127 are text compared unsigned, never digits, separators or undefined behaviour.
        row("non-ascii text", "4.0z", "4.0\xc3\xa9", -1);
        row("non-ascii suffix is a pre-release", "4.0\xce\xb2", "4.0", -1);
        row("high byte vs number", "\xff", "1", -1);
        row("arabic-indic digit is text", "\xd9\xa4", "3", -1);
    }

    void comparison()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(int, expected);
        QCOMPARE(VersionComparator::compare(a, b), expected);
        QCOMPARE(VersionComparator::compare(b, a), -expected);
    }

    // A skip is honoured by the next decision and replaced by a later one; the running version and
    // an empty text never replace it. Versions are read as UTF-8, not narrowed to "?" separators.
    void skippedVersions()
    {
        QVERIFY(SWIgnoredVersions::isIgnored("3.9\u03b2") && SWIgnoredVersions::isIgnored("3.9.0"));
        QVERIFY(!SWIgnoredVersions::isIgnored("4.0\u03b2"));
        QVERIFY(SWIgnoredVersions::isIgnored("\u0664.0"));
        SWIgnoredVersions::ignore("4.0");
        SWIgnoredVersions::ignore("3.9");
        SWIgnoredVersions::ignore(QString());
        QVERIFY(SWIgnoredVersions::isIgnored("4.0") && SWIgnoredVersions::isIgnored("4.0.0"));
        QVERIFY(!SWIgnoredVersions::isIgnored("4.1"));
        SWIgnoredVersions::ignore("4.1");
        QVERIFY(!SWIgnoredVersions::isIgnored("4.0"));
        QVERIFY(SWIgnoredVersions::isIgnored("4.1"));
    }
};

KIVO_TEST_MAIN(TestVersions)
#include "tst_versions.moc"
