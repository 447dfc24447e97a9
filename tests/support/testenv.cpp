#include "testenv.h"

#include <QDir>

#include <iterator>

namespace {
// The web services of the repair are switched off (and their keys cleared): no test reaches the
// internet, and a test that wants them points them at its own local server.
const char *const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
    "KIVO_MUSICBRAINZ_HOST", "KIVO_DISCOGS_HOST", "KIVO_ACOUSTID_HOST", "KIVO_COVERART_HOST",
    "KIVO_ACOUSTID_KEY", "KIVO_DISCOGS_TOKEN"};
constexpr int kCount = int(std::size(kVariables));
}  // namespace

struct TestEnv::Saved {
    QByteArray values[kCount];
    bool present[kCount] = {};
};

TestEnv::TestEnv()
    : m_saved(std::make_unique<Saved>())
{
    if (!m_dir.isValid())
        return;
    for (int i = 0; i < kCount; ++i) {
        m_saved->present[i] = qEnvironmentVariableIsSet(kVariables[i]);
        m_saved->values[i] = qgetenv(kVariables[i]);
    }
    QDir().mkpath(home());
    QDir().mkpath(dataHome());
    QDir().mkpath(configHome());
    QDir().mkpath(root() + QStringLiteral("/cache"));
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root() + QStringLiteral("/cache")));
    for (const char *host :
        {"KIVO_MUSICBRAINZ_HOST", "KIVO_DISCOGS_HOST", "KIVO_ACOUSTID_HOST", "KIVO_COVERART_HOST"})
        qputenv(host, "none");
    qunsetenv("KIVO_ACOUSTID_KEY");
    qunsetenv("KIVO_DISCOGS_TOKEN");
}

TestEnv::~TestEnv()
{
    if (!m_dir.isValid())
        return;
    for (int i = 0; i < kCount; ++i) {
        if (m_saved->present[i])
            qputenv(kVariables[i], m_saved->values[i]);
        else
            qunsetenv(kVariables[i]);
    }
}

QString TestEnv::home() const
{
    return root() + QStringLiteral("/home");
}

QString TestEnv::dataHome() const
{
    return root() + QStringLiteral("/data");
}

QString TestEnv::configHome() const
{
    return root() + QStringLiteral("/config");
}

QString TestEnv::appDataDir() const
{
    return dataHome() + QStringLiteral("/Corvane-Media-Rarazarur");
}

QString TestEnv::makePath(const QString &relative) const
{
    const QString path = QDir(root()).absoluteFilePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return path;
}
