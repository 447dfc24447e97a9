#pragma once

#include <QObject>
#include <QString>

// The version the user chose to skip, kept in the settings, and the decision whether a version
// offered by the feed is to be left alone.
class SWIgnoredVersions : public QObject
{
    Q_OBJECT
public:
    explicit SWIgnoredVersions(QObject *parent = nullptr);

    // Remembers `version` as skipped; the running version and an empty text are never stored.
    static void ignore(const QString &version);
    // True when `version` is the running one, the skipped one, or not newer than the running one.
    static bool isIgnored(const QString &version);

    static const char *settingsKey() { return "SWLatestSkippedVersion"; }
};
