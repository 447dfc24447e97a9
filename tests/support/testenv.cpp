#include "testenv.h"

#include <QDir>

namespace {
const char *const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"};
}

struct TestEnv::Saved {
    QByteArray values[4];
    bool present[4] = {};
};

TestEnv::TestEnv()
    : m_saved(std::make_unique<Saved>())
{
    if (!m_dir.isValid())
        return;
    for (int i = 0; i < 4; ++i) {
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
}

TestEnv::~TestEnv()
{
    if (!m_dir.isValid())
        return;
    for (int i = 0; i < 4; ++i) {
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
