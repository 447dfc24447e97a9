#include "replayserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases{{200, "OK"}, {204, "No Content"}, {301, "Moved Permanently"},
        {302, "Found"}, {303, "See Other"}, {307, "Temporary Redirect"}, {308, "Permanent Redirect"},
        {400, "Bad Request"}, {403, "Forbidden"}, {404, "Not Found"}, {500, "Internal Server Error"},
        {503, "Service Unavailable"}};
    return phrases.value(status, "Status");
}

QByteArray routeKey(const QByteArray &method, const QByteArray &target)
{
    return method.toUpper() + ' ' + target;
}
}  // namespace

ReplayReply ReplayReply::ok(const QByteArray &body, const QByteArray &contentType)
{
    return {200, {{"Content-Type", contentType}}, body};
}

ReplayReply ReplayReply::redirect(const QByteArray &location, int status)
{
    return {status, {{"Location", location}}, {}};
}

ReplayReply ReplayReply::error(int status, const QByteArray &body)
{
    return {status, {{"Content-Type", "text/plain"}}, body};
}

ReplayReply ReplayReply::silence()
{
    return {200, {}, {}, 0, true};
}

ReplayReply &ReplayReply::withHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append({name, value});
    return *this;
}

ReplayReply &ReplayReply::withDelay(int ms)
{
    delayMs = ms;
    return *this;
}

QByteArray RecordedRequest::path() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray RecordedRequest::query() const
{
    const qsizetype q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return QByteArray();
}

ReplayServer::ReplayServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_default(ReplayReply::error(404, "Not Found"))
{
    connect(m_server, &QTcpServer::newConnection, this, &ReplayServer::onNewConnection);
    listen();
}

ReplayServer::~ReplayServer()
{
    dropConnections();
}

bool ReplayServer::listen()
{
    if (m_server->isListening())
        return true;
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool ReplayServer::isListening() const
{
    return m_server->isListening();
}

quint16 ReplayServer::port() const
{
    return m_server->serverPort();
}

QUrl ReplayServer::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery));
}

void ReplayServer::route(const QByteArray &method, const QString &pathAndQuery, const ReplayReply &reply)
{
    m_routes.insert(routeKey(method, pathAndQuery.toUtf8()), reply);
}

void ReplayServer::removeRoute(const QByteArray &method, const QString &pathAndQuery)
{
    m_routes.remove(routeKey(method, pathAndQuery.toUtf8()));
}

void ReplayServer::clearRoutes()
{
    m_routes.clear();
}

int ReplayServer::requestCount(const QString &path) const
{
    const QByteArray wanted = path.toUtf8();
    int n = 0;
    for (const RecordedRequest &r : m_requests) {
        if (r.path() == wanted)
            ++n;
    }
    return n;
}

void ReplayServer::dropConnections()
{
    const auto sockets = m_connections.keys();
    m_connections.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void ReplayServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        Connection c;
        c.socket = socket;
        m_connections.insert(socket, c);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void ReplayServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->buffer += socket->readAll();
    processBuffer(socket);
}

void ReplayServer::processBuffer(QTcpSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end() || it->busy)
        return;
    QByteArray &buffer = it->buffer;
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > kMaxHeaderBytes)
            sendBadRequest(socket);
        return;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() < 3) {
        sendBadRequest(socket);
        return;
    }
    RecordedRequest request;
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    // An absolute target ("http://host/path") is reduced to its path and query.
    if (request.target.startsWith("http://") || request.target.startsWith("https://")) {
        const QUrl u = QUrl::fromEncoded(request.target);
        request.target = u.path(QUrl::FullyEncoded).toUtf8();
        if (u.hasQuery())
            request.target += '?' + u.query(QUrl::FullyEncoded).toUtf8();
    }
    qint64 contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0 || contentLength > kMaxBodyBytes) {
                sendBadRequest(socket);
                return;
            }
        }
    }
    const qsizetype bodyStart = headerEnd + 4;
    if (buffer.size() - bodyStart < contentLength)
        return;  // the body is still coming
    request.body = buffer.mid(bodyStart, contentLength);
    buffer.remove(0, bodyStart + contentLength);
    const QByteArray connection = request.header("Connection").toLower();
    it->closeAfter = connection.contains("close") || requestLine.at(2) == "HTTP/1.0";
    it->busy = true;
    m_requests.append(request);
    emit requestReceived(request);
    answer(socket, request);
}

ReplayReply ReplayServer::replyFor(const RecordedRequest &request) const
{
    auto exact = m_routes.constFind(routeKey(request.method, request.target));
    if (exact != m_routes.constEnd())
        return *exact;
    auto byPath = m_routes.constFind(routeKey(request.method, request.path()));
    if (byPath != m_routes.constEnd())
        return *byPath;
    return m_default;
}

void ReplayServer::answer(QTcpSocket *socket, const RecordedRequest &request)
{
    const ReplayReply reply = replyFor(request);
    if (reply.neverAnswer)
        return;  // the connection stays busy: later requests on it are never answered either
    if (reply.delayMs <= 0) {
        writeReply(socket, request, reply);
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(reply.delayMs, this, [this, guard, request, reply] {
        if (guard && m_connections.contains(guard.data()))
            writeReply(guard.data(), request, reply);
    });
}

void ReplayServer::writeReply(QTcpSocket *socket, const RecordedRequest &request, const ReplayReply &reply)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    const bool closeAfter = it->closeAfter;
    QByteArray out
        = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto &h : reply.headers) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0
            || h.first.compare("Connection", Qt::CaseInsensitive) == 0)
            continue;
        out += h.first + ": " + h.second + "\r\n";
    }
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += closeAfter ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    if (request.method != "HEAD")
        out += reply.body;
    socket->write(out);
    if (closeAfter) {
        m_connections.remove(socket);
        socket->disconnectFromHost();
        return;
    }
    it->busy = false;
    // A pipelined request may already be waiting.
    QTimer::singleShot(0, this, [this, guard = QPointer<QTcpSocket>(socket)] {
        if (guard)
            processBuffer(guard.data());
    });
}

void ReplayServer::sendBadRequest(QTcpSocket *socket)
{
    m_connections.remove(socket);
    socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}
