#include "apimanager.h"

#include "discogssource.h"
#include "fingerprintsource.h"
#include "musicbrainzsource.h"
#include "taglibbuilder.h"
#include "webserviceconfig.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutex>
#include <QNetworkInformation>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace {

ApiManager *g_instance = nullptr;

// Two files written side by side keep the disk busy; more only take threads from other work.
constexpr int kTagWriteThreads = 2;

// The network's last reachability, kept by a connection on the main thread so the run's thread can
// read it safely.
std::atomic_bool g_reachable{true};

QMutex &checkMutex()
{
    static QMutex mutex;
    return mutex;
}

std::function<bool()> &onlineCheck()
{
    static std::function<bool()> check;
    return check;
}

void watchNetwork()
{
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend())
        return;  // no backend: the network counts as reachable
    QNetworkInformation *info = QNetworkInformation::instance();
    const auto update = [](QNetworkInformation::Reachability reachability) {
        g_reachable = reachability == QNetworkInformation::Reachability::Online
            || reachability == QNetworkInformation::Reachability::Unknown;
    };
    update(info->reachability());
    QObject::connect(info, &QNetworkInformation::reachabilityChanged, info, update);
}

void destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

bool saveTagsOf(const track &t)
{
    return TagLibBuilder().saveTags(t);
}

}  // namespace

ApiManager *ApiManager::create()
{
    // A run stopped for a closing controller cannot be started again; a later controller in the
    // same process (tests start several) gets a new one.
    if (g_instance && g_instance->isStopped()) {
        delete g_instance;
        g_instance = nullptr;
    }
    if (!g_instance) {
        if (QCoreApplication::instance()
            && QThread::currentThread() == QCoreApplication::instance()->thread())
            watchNetwork();
        g_instance = new ApiManager(webSources());
        qAddPostRoutine(destroyInstance);
    }
    return g_instance;
}

ApiManager::Sources ApiManager::webSources()
{
    // Read once, on the calling thread; each source gets its own copy on the run's thread.
    const WebServiceConfig config = WebServiceConfig::load();
    Sources sources;
    if (!config.host(WebServiceConfig::Service::MusicBrainz).isEmpty())
        sources.musicBrainz = [config] { return std::make_unique<MusicBrainzSource>(config); };
    if (!config.host(WebServiceConfig::Service::Discogs).isEmpty())
        sources.discogs = [config] { return std::make_unique<DiscogsSource>(config); };
    // AcoustID answers nothing without a client key, so no file is fingerprinted without one.
    if (!config.host(WebServiceConfig::Service::AcoustId).isEmpty() && !config.acoustIdKey.isEmpty())
        sources.fingerprint = [config] { return std::make_unique<FingerprintSource>(config); };
    return sources;
}

ApiManager::ApiManager(Sources sources)
    : m_thread(std::make_unique<QThread>())
    , m_home(QThread::currentThread())
    , m_factories(std::move(sources))
    , m_tagWriter(saveTagsOf)
{
    registerTrackMetaTypes();
    qRegisterMetaType<RepairSummary>("RepairSummary");
    m_tagPool = std::make_unique<QThreadPool>();
    m_tagPool->setMaxThreadCount(kTagWriteThreads);
    m_requestTimer = new QTimer(this);
    m_requestTimer->setSingleShot(true);
    connect(m_requestTimer, &QTimer::timeout, this, &ApiManager::onRequestTimeout);
    m_thread->setObjectName(QStringLiteral("repair run"));
    moveToThread(m_thread.get());
    m_thread->start();
    post([this] { onThreadStarted(); });
}

ApiManager::~ApiManager()
{
    stopOptimisation();
}

bool ApiManager::isOnline()
{
    std::function<bool()> check;
    {
        QMutexLocker lock(&checkMutex());
        check = onlineCheck();
    }
    return check ? check() : g_reachable.load();
}

void ApiManager::setOnlineCheck(std::function<bool()> check)
{
    QMutexLocker lock(&checkMutex());
    onlineCheck() = std::move(check);
}

void ApiManager::setRequestTimeout(int milliseconds)
{
    post([this, milliseconds] { m_requestTimeoutMs = qMax(1, milliseconds); });
}

void ApiManager::setTagWriter(TagWriter writer)
{
    post([this, writer] { m_tagWriter = writer ? writer : TagWriter(saveTagsOf); });
}

void ApiManager::setDoUpdate(bool doUpdate)
{
    qDebug() << "do update......." << doUpdate;
    m_doUpdate = doUpdate;
    if (doUpdate)
        post([this] { scheduleStep(); });
}

void ApiManager::startOptimisation(const TrackMap &tracks)
{
    post([this, tracks] { addInput(tracks, false); });
}

void ApiManager::startOptimisationSelected(const TrackMap &chosen)
{
    post([this, chosen] { addInput(chosen, true); });
}

void ApiManager::cancelOptimization()
{
    // Nothing is left to pause: the folder in hand is finished and the next start runs at once.
    m_doUpdate = true;
    m_cancelHint = true;
    post([this] { onCancel(); });
}

void ApiManager::forgetFiles(const QStringList &paths)
{
    {
        QMutexLocker lock(&m_forgottenMutex);
        for (const QString &path : paths)
            m_forgotten.insert(path);
    }
    post([this, paths] {
        const QSet<QString> gone(paths.cbegin(), paths.cend());
        for (TrackMap *map : {&m_inputTracks, &m_folderQueue, &m_results, &m_albumBatch}) {
            for (auto it = map->begin(); it != map->end();) {
                if (gone.contains(it->filepath)) {
                    if (map == &m_inputTracks)
                        m_inputTracksByFolder[it->folderLocation].removeOne(it.key());
                    it = map->erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (TrackMap &batch : m_albumBatches) {
            for (auto it = batch.begin(); it != batch.end();)
                it = gone.contains(it->filepath) ? batch.erase(it) : std::next(it);
        }
    });
}

bool ApiManager::isForgotten(const QString &path) const
{
    QMutexLocker lock(&m_forgottenMutex);
    return m_forgotten.contains(path);
}

void ApiManager::stopOptimisation()
{
    if (m_stopped.load())
        return;
    if (QThread::currentThread() == m_thread.get()) {
        qWarning() << "The repair run cannot wait for itself to stop";
        return;
    }
    m_cancelHint = true;
    post([this] {
        m_shutdownRequested = true;
        onCancel();
    });
    m_thread->wait();
    m_stopped = true;
}
