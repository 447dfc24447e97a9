#pragma once

#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Shows a release-notes page fetched over http or https. The page is untrusted: its size and
// the time it may take are bounded, nothing in it runs, it loads no further resources (no local
// files, no remote images) and only its http and https links open, in the user's browser.
class SwReleaseNotesBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit SwReleaseNotesBrowser(QWidget *parent = nullptr);
    ~SwReleaseNotesBrowser() override;

    // Starts fetching `url`, replacing whatever was shown or pending; "about:blank" clears.
    void load(const QUrl &url);
    // Cancels a pending fetch; what is shown stays.
    void stop();
    bool isLoading() const { return !m_reply.isNull(); }
    QUrl pageUrl() const { return m_url; }

    void setMaxBytes(qint64 bytes) { m_maxBytes = bytes; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    static constexpr int kMaxRedirects = 5;

signals:
    void loadFinished(bool ok);

protected:
    QVariant loadResource(int type, const QUrl &name) override;

private:
    void request(const QUrl &url);
    void onReadyRead();
    void onFinished();
    void fail();
    void openLink(const QUrl &link);

    QNetworkAccessManager *m_network;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    QUrl m_url;
    int m_redirects = 0;
    qint64 m_maxBytes = 2 * 1024 * 1024;
    int m_timeoutMs = 20000;
};
