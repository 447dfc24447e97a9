#pragma once

#include <QObject>
#include <QString>

// Whether a feed enclosure is meant for the platform this build runs on.
class SwPlatform : public QObject
{
    Q_OBJECT
public:
    explicit SwPlatform(QObject *parent = nullptr);

    // The name an enclosure's platform attribute must carry (compared upper-cased and trimmed).
    static QString currentPlatformName();
    // Rewrites `platform` upper-cased and trimmed, then tells whether it names this platform.
    static bool matchesCurrentPlatform(QString &platform);
};
