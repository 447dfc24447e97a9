#pragma once

#include "swfeeditem.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QXmlStreamReader>

#include <functional>

class QNetworkReply;
class QTranslator;
class SwAvailableUpdate;
class SwUpdateConfirmDialog;
class SwUpdateWindow;

// Fetches the update feed, reads its first item and, when it offers a newer version that the
// user has not skipped, opens the update window. One instance per process (updaterInstance).
//
// Start-up use: SwUpdater::startupCheck() reads the feed address (configuredFeedURL), sets the
// organisation domain to the feed's host when none is set, and runs one silent check.
class SwUpdater : public QObject
{
    Q_OBJECT
public:
    // A message the user is to see: isError picks the critical box over the information box.
    using MessageSink = std::function<void(bool isError, const QString &message)>;

    static SwUpdater *updaterInstance();

    // The feed address: $KIVO_UPDATE_FEED, else the settings value "SWUpdateFeedURL",
    // else the maker's update host.
    static QUrl configuredFeedURL();
    static bool startupCheck();

    // Reads a whole feed without a window or a request; what a check would then judge and show.
    static SwFeedItem parseFeedData(const QByteArray &feed);

    void setFeedURL(const QUrl &url);
    void setFeedURL(const QString &url);
    QString feedURL() const;

    SwAvailableUpdate *currentProposal() const { return m_proposedUpdate; }

    void onUpdateWindowClosed();
    void onConfirmDialogClosed();

    // The open windows, or null; for callers that need to raise them (and for tests).
    SwUpdateWindow *updateWindow() const;
    SwUpdateConfirmDialog *confirmDialog() const;
    bool isChecking() const { return !m_reply.isNull(); }

    // Messages go to `sink` instead of a modal box when one is set (tests record them).
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // How long a feed request may stall before it fails; the default is 30 s.
    void setFeedTimeout(int ms) { m_feedTimeoutMs = ms; }
    int feedTimeout() const { return m_feedTimeoutMs; }

    static constexpr int kMaxRedirects = 5;
    static constexpr qint64 kMaxFeedBytes = 1024 * 1024;

public slots:
    bool CheckForUpdates(bool silentAsMuchAsItCouldGet);
    bool CheckForUpdates();
    bool CheckForUpdatesSilent();
    bool CheckForUpdatesNotSilent();
    bool closeUpdate();
    void InstallUpdate();
    void SkipUpdate();
    void RemindMeLater();
    void UpdateInstallationConfirmed();
    void UpdateInstallationNotConfirmed();
    void httpFeedReadyRead();
    void httpFeedUpdateDataReadProgress(qint64 bytesRead, qint64 totalBytes);
    void httpFeedDownloadFinished();

signals:
    // Every check that sent a request ends with this once: a proposal, a message or nothing.
    void checkFinished();

private:
    SwUpdater();
    ~SwUpdater() override;

    void loadTranslator();
    void abortFeedRequest();
    void requestFeed(const QUrl &url);
    void failFeedDownload(const QString &reason);
    bool parseFeed();
    bool evaluateFeedItem(const QString &title, const QString &link, const QString &releaseNotesLink,
        const QString &pubDate, const QString &enclosureUrl, const QString &enclosureVersion,
        const QString &enclosurePlatform, unsigned long enclosureLength, const QString &enclosureType);
    void openUpdateWindow();
    void closeUpdateWindow();
    void openConfirmDialog();
    void closeConfirmDialog();
    void requestUpdatePage();
    void showInformation(const QString &message, bool force);
    void showError(const QString &message, bool force);
    void showMessage(bool isError, const QString &message, bool force);

    // Closed windows delete themselves; the guarded pointers never dangle.
    QPointer<SwUpdateWindow> m_updaterWindow;
    QPointer<SwUpdateConfirmDialog> m_confirmDialog;
    SwAvailableUpdate *m_proposedUpdate = nullptr;
    bool m_silent = true;
    QUrl m_feedURL;
    QNetworkAccessManager m_networkManager;
    QPointer<QNetworkReply> m_reply;
    bool m_requestAborted = false;
    QXmlStreamReader m_xml;

    int m_redirectCount = 0;
    qint64 m_feedBytes = 0;
    int m_feedTimeoutMs = 30000;
    MessageSink m_messageSink;
    QTranslator *m_translator = nullptr;
};
