#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

// One update offered by the feed: the first item's texts and its enclosure for this platform.
class SwAvailableUpdate : public QObject
{
    Q_OBJECT
public:
    explicit SwAvailableUpdate(QObject *parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }

    QUrl releaseNotesLink() const { return m_releaseNotesLink; }
    void setReleaseNotesLink(const QUrl &link) { m_releaseNotesLink = link; }
    void setReleaseNotesLink(const QString &link) { m_releaseNotesLink = QUrl(link); }

    QString pubDate() const { return m_pubDate; }
    void setPubDate(const QString &date) { m_pubDate = date; }

    QUrl enclosureUrl() const { return m_enclosureUrl; }
    void setEnclosureUrl(const QUrl &url) { m_enclosureUrl = url; }
    void setEnclosureUrl(const QString &url) { m_enclosureUrl = QUrl(url); }

    QString enclosureVersion() const { return m_enclosureVersion; }
    void setEnclosureVersion(const QString &version) { m_enclosureVersion = version; }

    QString enclosurePlatform() const { return m_enclosurePlatform; }
    void setEnclosurePlatform(const QString &platform) { m_enclosurePlatform = platform; }

    unsigned long enclosureLength() const { return m_enclosureLength; }
    void setEnclosureLength(unsigned long length) { m_enclosureLength = length; }

    QString enclosureType() const { return m_enclosureType; }
    void setEnclosureType(const QString &type) { m_enclosureType = type; }

private:
    QString m_title;
    QUrl m_releaseNotesLink;
    QString m_pubDate;
    QUrl m_enclosureUrl;
    QString m_enclosureVersion;
    QString m_enclosurePlatform;
    unsigned long m_enclosureLength = 0;
    QString m_enclosureType;
};
