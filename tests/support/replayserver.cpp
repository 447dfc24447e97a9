#include "replayserver.h"

#include <algorithm>
#include <chrono>

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
}  // namespace

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

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
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
    return m_server->isListening() || m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl ReplayServer::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery));
}

int ReplayServer::requestCount(const QString &path) const
{
    return int(std::count_if(m_requests.begin(), m_requests.end(),
        [wanted = path.toUtf8()](const RecordedRequest &r) { return r.path() == wanted; }));
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
        m_connections.insert(socket, Connection());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            auto it = m_connections.find(socket);
            if (it != m_connections.end()) {
                it->buffer += socket->readAll();
                processBuffer(socket);
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
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
        const QByteArray name = line.left(colon).trimmed(), value = line.mid(colon + 1).trimmed();
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
    request.receivedUs = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    buffer.remove(0, bodyStart + contentLength);
    it->closeAfter
        = request.header("Connection").toLower().contains("close") || requestLine.at(2) == "HTTP/1.0";
    it->busy = true;
    m_requests.append(request);
    emit requestReceived(request);
    answer(socket, request);
}

ReplayReply ReplayServer::replyFor(const RecordedRequest &request) const
{
    return m_routes.value(routeKey(request.method, request.target),
        m_routes.value(routeKey(request.method, request.path()), m_default));
}

void ReplayServer::answer(QTcpSocket *socket, const RecordedRequest &request)
{
    const ReplayReply reply = replyFor(request);
    if (reply.neverAnswer)
        return;  // the connection stays busy: later requests on it are never answered either
    QTimer::singleShot(
        qMax(0, reply.delayMs), this, [this, guard = QPointer<QTcpSocket>(socket), request, reply] {
            if (guard)
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
    for (const auto &h : reply.headers)
        if (h.first.toLower() != "content-length" && h.first.toLower() != "connection")
            out += h.first + ": " + h.second + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size())
        + "\r\nConnection: " + (closeAfter ? "close" : "keep-alive") + "\r\n\r\n";
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
