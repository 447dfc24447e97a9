#include "swreleasenotesbrowser.h"

#include "swurlopener.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QStringDecoder>

SwReleaseNotesBrowser::SwReleaseNotesBrowser(QWidget *parent)
    : QTextBrowser(parent)
    , m_network(new QNetworkAccessManager(this))
{
    // Links are handled here so that nothing but a web address is ever opened.
    setOpenLinks(false);
    setOpenExternalLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &SwReleaseNotesBrowser::openLink);
}

SwReleaseNotesBrowser::~SwReleaseNotesBrowser()
{
    stop();
}

void SwReleaseNotesBrowser::load(const QUrl &url)
{
    stop();
    m_redirects = 0;
    m_url = url;
    clear();
    if (url == QUrl(QStringLiteral("about:blank")))
        return;
    if (!SwUrlOpener::isWebUrl(url)) {
        fail();
        return;
    }
    request(url);
}

void SwReleaseNotesBrowser::stop()
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_body.clear();
}

void SwReleaseNotesBrowser::request(const QUrl &url)
{
    m_body.clear();
    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    req.setTransferTimeout(m_timeoutMs);
    QNetworkReply *reply = m_network->get(req);
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &SwReleaseNotesBrowser::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &SwReleaseNotesBrowser::onFinished);
}

void SwReleaseNotesBrowser::onReadyRead()
{
    if (!m_reply)
        return;
    m_body += m_reply->readAll();
    if (m_body.size() > m_maxBytes) {
        stop();
        fail();
    }
}

void SwReleaseNotesBrowser::fail()
{
    clear();
    emit loadFinished(false);
}

void SwReleaseNotesBrowser::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply || sender() != reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        fail();
        return;
    }
    const QVariant target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (target.isValid()) {
        const QUrl next = reply->url().resolved(target.toUrl());
        if (++m_redirects > kMaxRedirects || !SwUrlOpener::isWebUrl(next)) {
            fail();
            return;
        }
        m_url = next;
        request(next);
        return;
    }
    m_body += reply->readAll();
    if (m_body.size() > m_maxBytes) {
        fail();
        return;
    }

    // The charset the server names wins; otherwise the page's own declaration, then UTF-8.
    const QString contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    QString charset;
    const QRegularExpressionMatch m = QRegularExpression(
        QStringLiteral("charset\\s*=\\s*\"?([^\";\\s]+)"), QRegularExpression::CaseInsensitiveOption)
                                          .match(contentType);
    if (m.hasMatch())
        charset = m.captured(1);
    QStringDecoder decoder;
    if (!charset.isEmpty()) {
        // Qt knows the Unicode forms and Latin-1 by name; the common Western single-byte
        // charsets are close enough to Latin-1 for release notes.
        const QString lower = charset.toLower();
        if (lower == QLatin1String("us-ascii") || lower == QLatin1String("ascii")
            || lower == QLatin1String("windows-1252") || lower == QLatin1String("cp1252")
            || lower == QLatin1String("iso-8859-15") || lower == QLatin1String("latin-1"))
            decoder = QStringDecoder(QStringDecoder::Latin1);
        else
            decoder = QStringDecoder(charset.toLatin1().constData());
    }
    if (!decoder.isValid())
        decoder = QStringDecoder::decoderForHtml(m_body);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(m_body);
    m_body.clear();

    if (contentType.startsWith(QLatin1String("text/plain"), Qt::CaseInsensitive))
        setPlainText(text);
    else
        setHtml(text);
    emit loadFinished(true);
}

QVariant SwReleaseNotesBrowser::loadResource(int type, const QUrl &name)
{
    // A page may not make the view read local files or reach other hosts. An empty but
    // non-null value, because for a null one the document goes on to read the file itself.
    Q_UNUSED(name)
    if (type == QTextDocument::ImageResource)
        return QVariant(QImage());
    if (type == QTextDocument::StyleSheetResource)
        return QVariant(QString());
    return QVariant(QByteArray());
}

void SwReleaseNotesBrowser::openLink(const QUrl &link)
{
    const QUrl target = m_url.resolved(link);
    if (SwUrlOpener::isWebUrl(target))
        SwUrlOpener::open(target);
}
