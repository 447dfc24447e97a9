#include "swignoredversions.h"

#include "swversion.h"
#include "versioncomparator.h"

#include <QDebug>
#include <QSettings>

namespace {
const char kOrganisation[] = "Corvane";
const char kApplication[] = "Corvane-Media-Rarazarur";
}  // namespace

SWIgnoredVersions::SWIgnoredVersions(QObject *parent)
    : QObject(parent)
{ }

void SWIgnoredVersions::ignore(const QString &version)
{
    if (version == QLatin1String(kSwCurrentVersion) || version.isEmpty())
        return;
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(kOrganisation),
        QLatin1String(kApplication));
    settings.setValue(QLatin1String(settingsKey()), version);
    settings.sync();
}

bool SWIgnoredVersions::isIgnored(const QString &version)
{
    qDebug() << "version..." << version << kSwCurrentVersion;
    if (version == QLatin1String(kSwCurrentVersion))
        return true;
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(kOrganisation),
            QLatin1String(kApplication));
        const QString key = QLatin1String(settingsKey());
        // "4.0.0" is the "4.0" the user skipped.
        const QString skipped = settings.value(key).toString();
        if (settings.contains(key)
            && (skipped == version || VersionComparator::compare(skipped.toUtf8(), version.toUtf8()) == 0))
            return true;
    }
    // UTF-8 rather than a lossy narrowing: characters outside ASCII stay text, never a "?".
    if (VersionComparator::compare(QByteArray(kSwCurrentVersion), version.toUtf8()) == -1)
        return false;
    qDebug() << "version..." << version << kSwCurrentVersion;
    return true;
}
