#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

// What one GET came back with.
struct WebResult {
    bool ok = false;  // a 2xx answer whose body arrived whole and within the size limit
    int status = 0;  // the HTTP status; 0 when none came
    QByteArray body;  // only when ok
    QString error;  // why it failed, for the debug log
};

// Answers already had in a run, by address, so one address is asked once.
using WebReplyCache = QHash<QString, WebResult>;

// One GET to a web service, as the repair's clients all send them: it waits for its host's turn
// (RequestPacer), names the program and its version, ends after a time limit and at a size limit,
// and ends with exactly one finished(), never from inside start(). abort() and the destructor end it
// without one. Only http and https addresses are fetched.
//
// A 503 or 429 is asked again once, after the Retry-After the host gave (or, without one, a
// backing-off wait), and no request goes to that host before then. A host that asks for a longer
// pause than kMaxRetryWaitMs is not waited on: it is given up on for the run. The body is read as
// it comes and the request refused as soon as the declared or the received size passes the limit,
// so a large reply is never held whole. Every outcome counts for the host's health (HostHealth); a
// host given up on is not asked.
class WebRequest : public QObject
{
    Q_OBJECT

public:
    struct Options {
        qint64 intervalMs = 0;  // the gap the host's requests keep
        int timeoutMs = 15000;  // from sending to the last byte
        qint64 maxBytes = 4 * 1024 * 1024;
        QList<QPair<QByteArray, QByteArray>> headers;
        // When set, an address answered before is answered from here, and answers are kept here.
        std::shared_ptr<WebReplyCache> cache;
    };
    // The longest Retry-After waited for, and the longest any request waits for its turn; a longer
    // pause ends the request and gives the host up for the run (it is still spared that long).
    static constexpr qint64 kMaxRetryWaitMs = 30000;
    // The wait before the one retry of a 503 or 429 that gave no Retry-After.
    static qint64 backOffMs(qint64 intervalMs) { return qMax<qint64>(2000, 2 * intervalMs); }
    // A Retry-After value (seconds, or an HTTP date in any of its three forms) in ms from now, at
    // most a day; 0 for a date gone by; -1 when it reads as neither.
    static qint64 retryAfterMs(const QByteArray &value);

    WebRequest(
        QNetworkAccessManager *network, const QUrl &url, const Options &options, QObject *parent = nullptr);
    ~WebRequest() override;

    void start();
    void abort();
    QUrl url() const { return m_url; }

signals:
    void finished(const WebResult &result);

private:
    void send();
    void onTurn();
    void onReplyFinished();
    void onMetaData();
    void onReadyRead();
    void markSent();
    void waitTurn(qint64 ms);
    void failForPause();
    void fail(const QString &reason, bool hostFailed = false);
    void end(const WebResult &result);
    void dropReply();

    QPointer<QNetworkAccessManager> m_network;
    QUrl m_url;
    Options m_options;
    QNetworkReply *m_reply = nullptr;
    QTimer m_timer;  // the host's turn, then the time limit
    QString m_paceKey;
    QByteArray m_body;
    bool m_started = false;
    bool m_retried = false;
    bool m_sentMarked = false;
    bool m_fromCache = false;
    bool m_ended = false;
};
