#include "fuzzsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

QTemporaryDir &tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

// Qt keeps argc by reference for the application's whole life.
int g_argc = 1;
char g_name[] = "kivo-fuzz";
char *g_argv[] = {g_name, nullptr};

}  // namespace

QString fuzzTempDir()
{
    return tempDir().path();
}

void fuzzInitEnvironment()
{
    if (!tempDir().isValid()) {
        std::fprintf(stderr, "no temporary folder: %s\n", qPrintable(tempDir().errorString()));
        std::abort();
    }
    // Never the user's own folders: anything a parser logs or stores lands in the temporary one.
    qputenv("XDG_DATA_HOME", QFile::encodeName(fuzzTempDir() + QStringLiteral("/data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(fuzzTempDir() + QStringLiteral("/config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(fuzzTempDir() + QStringLiteral("/cache")));
    qInstallMessageHandler(quietHandler);
}

void fuzzInitCoreApp()
{
    fuzzInitEnvironment();
    if (!QCoreApplication::instance())
        new QCoreApplication(g_argc, g_argv);
}

void fuzzInitGuiApp()
{
    fuzzInitEnvironment();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QCoreApplication::instance())
        new QGuiApplication(g_argc, g_argv);
}

QString fuzzWriteFile(const QString &name, const QByteArray &bytes)
{
    const QString path = fuzzTempDir() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}
