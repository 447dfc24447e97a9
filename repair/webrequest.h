#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// What one GET came back with.
struct WebResult {
    bool ok = false;  // a 2xx answer whose body arrived whole and within the size limit
    int status = 0;  // the HTTP status; 0 when none came
    QByteArray body;  // only when ok
    QString error;  // why it failed, for the debug log
};

// One GET to a web service, as the repair's clients all send them: it waits for its host's turn
// (RequestPacer), names the program and its version, ends after a time limit and at a size limit,
// and ends with exactly one finished(), never from inside start(). abort() and the destructor end it
// without one. Only http and https addresses are fetched.
class WebRequest : public QObject
{
    Q_OBJECT

public:
    struct Options {
        qint64 intervalMs = 0;  // the gap the host's requests keep
        int timeoutMs = 15000;  // from sending to the last byte
        qint64 maxBytes = 4 * 1024 * 1024;
        QList<QPair<QByteArray, QByteArray>> headers;
    };

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
    void fail(const QString &reason);
    void end(const WebResult &result);
    void dropReply();

    QPointer<QNetworkAccessManager> m_network;
    QUrl m_url;
    Options m_options;
    QNetworkReply *m_reply = nullptr;
    QTimer m_timer;  // the host's turn, then the time limit
    QString m_paceKey;
    bool m_started = false;
    bool m_ended = false;
};
