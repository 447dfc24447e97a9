#include "swupdater.h"

#include "swavailableupdate.h"
#include "swignoredversions.h"
#include "swplatform.h"
#include "swupdateconfirmdialog.h"
#include "swupdatewindow.h"
#include "swurlopener.h"
#include "swversion.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTranslator>

#include <atomic>

namespace {
std::atomic<SwUpdater *> g_instance{nullptr};

QMutex &creationMutex()
{
    static QMutex mutex;
    return mutex;
}

const char kDefaultFeed[] = "http://update.corvane.com/update.xml";
const char kFeedEnvironment[] = "KIVO_UPDATE_FEED";
const char kFeedSettingsKey[] = "SWUpdateFeedURL";
const char kUpdatePagePath[] = "/update/win/update.html";
const char kWindowIcon[] = ":resources/logos/corvane_app_logo.png";
}  // namespace

SwUpdater *SwUpdater::updaterInstance()
{
    SwUpdater *instance = g_instance.load();
    if (instance)
        return instance;
    QMutexLocker locker(&creationMutex());
    instance = g_instance.load();
    if (!instance) {
        instance = new SwUpdater;
        g_instance.store(instance);
    }
    return instance;
}

QUrl SwUpdater::configuredFeedURL()
{
    const QString fromEnvironment = qEnvironmentVariable(kFeedEnvironment).trimmed();
    if (!fromEnvironment.isEmpty())
        return QUrl(fromEnvironment);
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
        QStringLiteral("Corvane-Media-Rarazarur"));
    const QString fromSettings = settings.value(QLatin1String(kFeedSettingsKey)).toString().trimmed();
    if (!fromSettings.isEmpty())
        return QUrl(fromSettings);
    return QUrl(QLatin1String(kDefaultFeed));
}

bool SwUpdater::startupCheck()
{
    const QUrl feed = configuredFeedURL();
    if (QCoreApplication::organizationDomain().isEmpty())
        QCoreApplication::setOrganizationDomain(feed.host());
    SwUpdater *updater = updaterInstance();
    updater->setFeedURL(feed);
    return updater->CheckForUpdatesSilent();
}

SwUpdater::SwUpdater()
    : QObject(nullptr)
{
    loadTranslator();
}

SwUpdater::~SwUpdater()
{
    delete m_proposedUpdate;
    m_proposedUpdate = nullptr;
    closeConfirmDialog();
    closeUpdateWindow();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void SwUpdater::loadTranslator()
{
    // Qt 6 reads every literal as UTF-8, so no codec needs choosing.
    m_translator = new QTranslator(this);
    if (!m_translator->load(QStringLiteral("swupdate_") + QLocale::system().name()))
        qDebug() << "No update translation for" << QLocale::system().name();
    QCoreApplication::installTranslator(m_translator);
}

void SwUpdater::setFeedURL(const QUrl &url)
{
    m_feedURL = url;
}

void SwUpdater::setFeedURL(const QString &url)
{
    setFeedURL(QUrl(url));
}

QString SwUpdater::feedURL() const
{
    return m_feedURL.toString();
}

SwUpdateWindow *SwUpdater::updateWindow() const
{
    return m_updaterWindow;
}

SwUpdateConfirmDialog *SwUpdater::confirmDialog() const
{
    return m_confirmDialog;
}

void SwUpdater::onUpdateWindowClosed()
{
    m_updaterWindow = nullptr;
}

void SwUpdater::onConfirmDialogClosed()
{
    m_confirmDialog = nullptr;
}

bool SwUpdater::CheckForUpdates(bool silentAsMuchAsItCouldGet)
{
    if (m_feedURL.isEmpty()) {
        qCritical() << "Please set feed URL via setFeedURL() before calling CheckForUpdates().";
        return false;
    }
    m_silent = silentAsMuchAsItCouldGet;
    if (!SwUrlOpener::isWebUrl(m_feedURL)) {
        qCritical() << "The update feed address is not an http or https address:" << m_feedURL;
        return false;
    }
    if (QCoreApplication::organizationDomain().isEmpty()) {
        qCritical() << "QApplication::organizationDomain is not set. Please do that.";
        return false;
    }
    if (QCoreApplication::applicationName().isEmpty()) {
        qWarning() << "QApplication::applicationName is not set, setting it to '\"CorvaneMediaZaridizir\"'";
    }
    if (QCoreApplication::applicationVersion().isEmpty()) {
        qWarning().noquote() << QStringLiteral(
            "QApplication::applicationVersion is not set, setting it to '\"%1\"'")
                                    .arg(QLatin1String(kSwCurrentVersion));
        QCoreApplication::setApplicationVersion(QLatin1String(kSwCurrentVersion));
    }
    abortFeedRequest();
    m_requestAborted = false;
    m_redirectCount = 0;
    requestFeed(m_feedURL);
    return true;
}

bool SwUpdater::CheckForUpdates()
{
    return CheckForUpdates(true);
}

bool SwUpdater::CheckForUpdatesSilent()
{
    return CheckForUpdates(true);
}

bool SwUpdater::CheckForUpdatesNotSilent()
{
    return CheckForUpdates(false);
}

bool SwUpdater::closeUpdate()
{
    qDebug() << "closeUpdate..";
    static QMutex closeMutex;
    QMutexLocker locker(&closeMutex);
    SwUpdater *instance = g_instance.load();
    if (instance) {
        // The pointer stays set while the windows close, so their close events reach this one.
        delete instance;
        g_instance.store(nullptr);
    }
    return true;
}

void SwUpdater::abortFeedRequest()
{
    if (!m_reply)
        return;
    m_requestAborted = true;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    // Disconnected first: the old reply's signals must never be taken for the new request's.
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void SwUpdater::requestFeed(const QUrl &url)
{
    m_xml.clear();
    m_feedBytes = 0;
    QNetworkRequest request(url);
    // Redirects are followed here, counted and limited to web addresses.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_feedTimeoutMs);
    QNetworkReply *reply = m_networkManager.get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &SwUpdater::httpFeedReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &SwUpdater::httpFeedUpdateDataReadProgress);
    connect(reply, &QNetworkReply::finished, this, &SwUpdater::httpFeedDownloadFinished);
}

void SwUpdater::httpFeedReadyRead()
{
    if (!m_reply || sender() != m_reply)
        return;
    const QByteArray data = m_reply->readAll();
    m_feedBytes += data.size();
    if (m_feedBytes > kMaxFeedBytes) {
        failFeedDownload(tr("the feed is larger than %1 bytes").arg(kMaxFeedBytes));
        return;
    }
    m_xml.addData(data);
}

void SwUpdater::httpFeedUpdateDataReadProgress(qint64 bytesRead, qint64 totalBytes)
{
    Q_UNUSED(bytesRead)
    Q_UNUSED(totalBytes)
}

void SwUpdater::failFeedDownload(const QString &reason)
{
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    m_xml.clear();
    showError(tr("Feed download failed: %1.").arg(reason), false);
    emit checkFinished();
}

void SwUpdater::httpFeedDownloadFinished()
{
    QNetworkReply *reply = qobject_cast<QNetworkReply *>(sender());
    if (m_requestAborted || !reply || reply != m_reply) {
        if (reply)
            reply->deleteLater();
        return;
    }
    const QVariant redirectionTarget = reply->attribute(QNetworkRequest::RedirectionTargetAttribute);
    if (reply->error() != QNetworkReply::NoError) {
        const QString reason = reply->error() == QNetworkReply::OperationCanceledError
            ? tr("the update server did not answer in time")
            : reply->errorString();
        failFeedDownload(reason);
        return;
    }
    if (redirectionTarget.isValid()) {
        const QUrl next = m_feedURL.resolved(redirectionTarget.toUrl());
        if (++m_redirectCount > kMaxRedirects) {
            failFeedDownload(tr("too many redirects"));
            return;
        }
        if (!SwUrlOpener::isWebUrl(next)) {
            failFeedDownload(tr("redirected to an address that is not http or https"));
            return;
        }
        m_feedURL = next;
        reply->disconnect(this);
        reply->deleteLater();
        m_reply = nullptr;
        requestFeed(next);
        return;
    }
    const QByteArray rest = reply->readAll();
    m_feedBytes += rest.size();
    if (m_feedBytes > kMaxFeedBytes) {
        failFeedDownload(tr("the feed is larger than %1 bytes").arg(kMaxFeedBytes));
        return;
    }
    m_xml.addData(rest);
    reply->disconnect(this);
    reply->deleteLater();
    m_reply = nullptr;
    parseFeed();
    m_xml.clear();
    emit checkFinished();
}

SwFeedItem SwUpdater::parseFeedData(const QByteArray &feed)
{
    QXmlStreamReader xml(feed);
    return readSwFeedItem(xml);
}

bool SwUpdater::parseFeed()
{
    const SwFeedItem item = readSwFeedItem(m_xml);
    if (item.outcome == SwFeedItem::Malformed) {
        showError(
            tr("Feed parsing failed: %1 %2.").arg(QString::number(item.errorLine), item.errorString), false);
        return false;
    }
    if (item.outcome == SwFeedItem::NoItem) {
        showInformation(tr("No updates were found."), false);
        return false;
    }
    return evaluateFeedItem(item.title, item.link, item.releaseNotesLink, item.pubDate, item.enclosureUrl,
        item.enclosureVersion, item.enclosurePlatform, item.enclosureLength, item.enclosureType);
}

bool SwUpdater::evaluateFeedItem(const QString &title, const QString &link, const QString &releaseNotesLink,
    const QString &pubDate, const QString &enclosureUrl, const QString &enclosureVersion,
    const QString &enclosurePlatform, unsigned long enclosureLength, const QString &enclosureType)
{
    qDebug() << "Title:" << title;
    qDebug() << "Link:" << link;
    qDebug() << "Release notes link:" << releaseNotesLink;
    qDebug() << "Pub. date:" << pubDate;
    qDebug() << "Enclosure URL:" << enclosureUrl;
    qDebug() << "Enclosure version:" << enclosureVersion;
    qDebug() << "Enclosure platform:" << enclosurePlatform;
    qDebug() << "Enclosure length:" << enclosureLength;
    qDebug() << "Enclosure type:" << enclosureType;

    // An item that offers nothing newer is no update, whatever its links say.
    if (!enclosureVersion.isEmpty() && SWIgnoredVersions::isIgnored(enclosureVersion)) {
        qDebug() << "Version '" << enclosureVersion << "' is ignored, too old or something like that.";
        showInformation(tr("No updates were found."), false);
        return true;
    }

    QString notesLink = releaseNotesLink;
    QString itemLink = link;
    if (notesLink.isEmpty()) {
        if (itemLink.isEmpty()) {
            showError(tr("Feed error: \"release notes\" link is empty"), false);
            return false;
        }
        notesLink = itemLink;
    } else {
        itemLink = notesLink;
    }
    if (!itemLink.startsWith(QLatin1String("http://")) && !itemLink.startsWith(QLatin1String("https://"))) {
        showError(tr("Feed error: invalid \"release notes\" link"), false);
        return false;
    }
    // The download is opened in the user's browser, so it must be a web address too.
    if (enclosureUrl.isEmpty() || enclosureVersion.isEmpty() || enclosurePlatform.isEmpty()
        || !SwUrlOpener::isWebUrl(QUrl(enclosureUrl))) {
        showError(tr("Feed error: invalid \"enclosure\" with the download link"), false);
        return false;
    }

    delete m_proposedUpdate;
    m_proposedUpdate = new SwAvailableUpdate(nullptr);
    m_proposedUpdate->setTitle(title);
    m_proposedUpdate->setReleaseNotesLink(notesLink);
    m_proposedUpdate->setPubDate(pubDate);
    m_proposedUpdate->setEnclosureUrl(enclosureUrl);
    m_proposedUpdate->setEnclosureVersion(enclosureVersion);
    m_proposedUpdate->setEnclosurePlatform(enclosurePlatform);
    m_proposedUpdate->setEnclosureLength(enclosureLength);
    m_proposedUpdate->setEnclosureType(enclosureType);
    openUpdateWindow();
    return true;
}

void SwUpdater::openUpdateWindow()
{
    closeUpdateWindow();
    m_updaterWindow = new SwUpdateWindow(nullptr);
    m_updaterWindow->updateFromProposedUpdate();
    m_updaterWindow->setWindowIcon(QIcon(QLatin1String(kWindowIcon)));
    m_updaterWindow->show();
    m_updaterWindow->raise();
}

void SwUpdater::closeUpdateWindow()
{
    if (m_updaterWindow) {
        qDebug() << "m_updaterWindow...11";
        if (!m_updaterWindow->close())
            qWarning() << "Update window didn't close, leaking memory from now on";
        m_updaterWindow = nullptr;
    }
}

void SwUpdater::openConfirmDialog()
{
    closeConfirmDialog();
    m_confirmDialog = new SwUpdateConfirmDialog(nullptr);
    m_confirmDialog->updateFromProposedUpdate();
    m_confirmDialog->setWindowIcon(QIcon(QLatin1String(kWindowIcon)));
    m_confirmDialog->show();
}

void SwUpdater::closeConfirmDialog()
{
    if (m_confirmDialog) {
        if (!m_confirmDialog->close())
            qWarning() << "Update confirmation dialog didn't close, leaking memory from now on";
        m_confirmDialog = nullptr;
    }
}

void SwUpdater::InstallUpdate()
{
    qDebug() << "Install update";
    openConfirmDialog();
}

void SwUpdater::SkipUpdate()
{
    qDebug() << "Skip update";
    if (!m_proposedUpdate) {
        qWarning() << "Proposed update is NULL (shouldn't be at this point)";
        return;
    }
    SWIgnoredVersions::ignore(m_proposedUpdate->enclosureVersion());
    closeUpdateWindow();
    closeConfirmDialog();
}

void SwUpdater::RemindMeLater()
{
    qDebug() << "Remind me later";
    closeUpdateWindow();
    closeConfirmDialog();
}

void SwUpdater::UpdateInstallationConfirmed()
{
    qDebug() << "Confirm update installation";
    if (!m_proposedUpdate) {
        qWarning() << "Proposed update is NULL (shouldn't be at this point)";
        return;
    }
    if (!SwUrlOpener::open(m_proposedUpdate->enclosureUrl())) {
        showError(tr("Unable to open this link in a browser. Please do it manually."), true);
        return;
    }
    requestUpdatePage();
    closeUpdateWindow();
    closeConfirmDialog();
}

void SwUpdater::requestUpdatePage()
{
    // The maker's page is only fetched, never shown; the reply is dropped when it ends.
    QUrl page = m_feedURL;
    page.setScheme(QStringLiteral("http"));
    page.setPath(QLatin1String(kUpdatePagePath));
    page.setQuery(QString());
    page.setFragment(QString());
    QNetworkRequest request(page);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(m_feedTimeoutMs);
    QNetworkReply *reply = m_networkManager.get(request);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void SwUpdater::UpdateInstallationNotConfirmed()
{
    qDebug() << "Do not confirm update installation";
    closeConfirmDialog();
}

void SwUpdater::showInformation(const QString &message, bool force)
{
    showMessage(false, message, force);
}

void SwUpdater::showError(const QString &message, bool force)
{
    showMessage(true, message, force);
}

void SwUpdater::showMessage(bool isError, const QString &message, bool force)
{
    if (m_silent && !force) {
        qDebug() << "Update check:" << message;
        return;
    }
    if (m_messageSink) {
        m_messageSink(isError, message);
        return;
    }
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::Information, QString(),
        isError ? tr("Error") : tr("Information"));
    box.setInformativeText(message);
    box.exec();
}
