#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// A private home for one test: HOME, XDG_DATA_HOME and XDG_CONFIG_HOME point into a fresh
// temporary folder while the object lives, so no test reads or writes the user's data, settings
// or music folders, nor those of a test running beside it. The repair's web services are switched
// off meanwhile (KIVO_*_HOST "none", no keys), so nothing reaches the internet.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv &) = delete;
    TestEnv &operator=(const TestEnv &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString home() const;
    QString dataHome() const;
    QString configHome() const;
    // The program's own data folder below XDG_DATA_HOME ("Corvane-Media-Rarazarur").
    QString appDataDir() const;
    // A path below root(), its folder made.
    QString makePath(const QString &relative) const;

private:
    QTemporaryDir m_dir;
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};

// Runs a QtTest class inside one TestEnv set up before the application object exists, so even
// paths computed at start-up land in the temporary folder. Offscreen unless told otherwise.
#define KIVO_TEST_MAIN(TestClass) KIVO_TEST_MAIN_WITH_CHILD(TestClass, "", nullptr)

// The same, for a test that runs a part of itself in a child process it can kill: started with
// `childFlag` first, the program runs `childMain(argc, argv)` instead of the tests.
#define KIVO_TEST_MAIN_WITH_CHILD(TestClass, childFlag, childMain)                                           \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        int (*const child)(int, char **) = childMain;                                                        \
        if (child && argc >= 2 && qstrcmp(argv[1], childFlag) == 0)                                          \
            return child(argc, argv);                                                                        \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                  \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                         \
        TestEnv kivoTestEnv;                                                                                 \
        if (!kivoTestEnv.isValid())                                                                          \
            return 2;                                                                                        \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
