#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// One reply the server plays back for a route.
struct ReplayReply {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;  // Content-Length is always added by the server
    QByteArray body;
    int delayMs = 0;  // wait this long before answering
    bool neverAnswer = false;  // keep the connection open and say nothing

    static ReplayReply ok(const QByteArray &body, const QByteArray &type = "text/plain")
    {
        return {200, {{"Content-Type", type}}, body};
    }
    static ReplayReply redirect(const QByteArray &location, int status = 302)
    {
        return {status, {{"Location", location}}, {}};
    }
    static ReplayReply error(int status, const QByteArray &body = QByteArray())
    {
        return {status, {{"Content-Type", "text/plain"}}, body};
    }
    static ReplayReply silence() { return {200, {}, {}, 0, true}; }
    ReplayReply &withHeader(const QByteArray &name, const QByteArray &value);
    ReplayReply &withDelay(int ms);
};

// One request as the server received it.
struct RecordedRequest {
    QByteArray method;
    QByteArray target;  // path plus "?query" when there was one
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 receivedUs = 0;  // when the request was whole, on a monotonic clock (microseconds)

    QByteArray path() const { return target.split('?').first(); }
    QByteArray query() const
    {
        return target.contains('?') ? target.mid(target.indexOf('?') + 1) : QByteArray();
    }
    // The first header of that name (case-insensitive), or an empty array.
    QByteArray header(const QByteArray &name) const;
};

// A small HTTP/1.1 server on 127.0.0.1 (ephemeral port) that replays registered replies and
// records every request. It runs on the thread that made it, through that thread's event loop,
// so tests need no locks. Routes match method and path; a route registered with a query
// ("/x?a=1") only matches that exact query and wins over one without.
class ReplayServer : public QObject
{
    Q_OBJECT
public:
    explicit ReplayServer(QObject *parent = nullptr);
    ~ReplayServer() override;

    // Starts listening; false when no port could be had. Called by the constructor already.
    bool listen();
    bool isListening() const { return m_server->isListening(); }
    quint16 port() const { return m_server->serverPort(); }
    // "http://127.0.0.1:<port>" followed by `pathAndQuery` (which should begin with "/").
    QUrl url(const QString &pathAndQuery) const;

    void route(const QByteArray &method, const QString &pathAndQuery, const ReplayReply &reply)
    {
        m_routes.insert(routeKey(method, pathAndQuery.toUtf8()), reply);
    }
    void get(const QString &pathAndQuery, const ReplayReply &reply) { route("GET", pathAndQuery, reply); }
    void removeRoute(const QByteArray &method, const QString &pathAndQuery)
    {
        m_routes.remove(routeKey(method, pathAndQuery.toUtf8()));
    }
    void clearRoutes() { m_routes.clear(); }
    // What unmatched requests get; a plain 404 unless changed.
    void setDefaultReply(const ReplayReply &reply) { m_default = reply; }

    QList<RecordedRequest> requests() const { return m_requests; }
    int requestCount() const { return int(m_requests.size()); }
    // Requests whose path (query ignored) equals `path`.
    int requestCount(const QString &path) const;
    void clearRequests() { m_requests.clear(); }
    // Closes every open connection, including ones held by never-answering routes.
    void dropConnections();

    static constexpr int kMaxHeaderBytes = 64 * 1024;
    static constexpr int kMaxBodyBytes = 16 * 1024 * 1024;

signals:
    void requestReceived(const RecordedRequest &request);

private:
    struct Connection {
        QByteArray buffer;
        bool busy = false;  // a reply is pending; further requests wait in the buffer
        bool closeAfter = false;
    };

    static QByteArray routeKey(const QByteArray &method, const QByteArray &target)
    {
        return method.toUpper() + ' ' + target;
    }
    void onNewConnection();
    void processBuffer(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const RecordedRequest &request);
    void writeReply(QTcpSocket *socket, const RecordedRequest &request, const ReplayReply &reply);
    void sendBadRequest(QTcpSocket *socket);
    ReplayReply replyFor(const RecordedRequest &request) const;

    QTcpServer *m_server;
    QHash<QTcpSocket *, Connection> m_connections;
    QHash<QByteArray, ReplayReply> m_routes;  // key: "METHOD path[?query]"
    ReplayReply m_default;
    QList<RecordedRequest> m_requests;
};
