#include "swplatform.h"

SwPlatform::SwPlatform(QObject *parent)
    : QObject(parent)
{ }

QString SwPlatform::currentPlatformName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Q_OS_WIN32");
#else
    return QStringLiteral("LINUX");
#endif
}

bool SwPlatform::matchesCurrentPlatform(QString &platform)
{
    platform = platform.toUpper().trimmed();
    if (platform.isEmpty())
        return false;
    return platform == currentPlatformName();
}
