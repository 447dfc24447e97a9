#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Database;
class Drive;
class manager;
class QmlApplicationViewer;

struct StartOptions {
    // A relative path is looked for under the working directory, then beside the program and in
    // its installed data folder (frontEndPath).
    QString qmlFile = QStringLiteral("qml/QKiVOCorvane/main.qml");
    // The program's own folder; empty for the executable's.
    QString programDir;
    // Asked when another instance holds the lock; true lets this one start too.
    std::function<bool()> askOpenAnother;
    // Tells the user why the program cannot start.
    std::function<void(const QString &)> showError;
    // The silent look for a newer version at start.
    bool checkForUpdates = true;
};

// The program from start-up to closing, apart from the application object and its event loop.
class KivoApplication
{
public:
    enum class Result { Started, Declined, DatabaseFailed, FrontEndFailed };

    KivoApplication();
    ~KivoApplication();

    Result start(const StartOptions &options = StartOptions());
    void shutdown();

    bool isSecondInstance() const { return m_secondInstance; }
    manager *controller() const { return m_manager.get(); }
    Drive *drive() const { return m_drive.get(); }
    // Why the library file was found damaged after the window came up; "" while it is sound.
    QString storeFailure() const { return m_storeFailure; }
    QmlApplicationViewer *viewer() const { return m_viewer.get(); }
    // Root-object connections that failed, as "sender signal -> receiver slot" lines.
    const QStringList &failedConnections() const { return m_failedConnections; }
    int connectionCount() const { return m_connectionCount; }

    static QString lockFilePath();
    // Where the front end `qmlFile` is: the first of the working directory, `programDir`, and the
    // data folder of an install around it ("../share/kivo") or at the configured prefix that holds
    // it; `qmlFile` itself when none does, so the error names the usual place.
    static QString frontEndPath(const QString &qmlFile, const QString &programDir);
    static QString debugLogPath();

private:
    void connectRoot();
    void join(QObject *sender, const char *signal, QObject *receiver, const char *slot,
        Qt::ConnectionType type = Qt::AutoConnection);

    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<QmlApplicationViewer> m_viewer;
    std::unique_ptr<manager> m_manager;
    std::unique_ptr<Drive> m_drive;
    QStringList m_failedConnections;
    QString m_storeFailure;
    int m_connectionCount = 0;
    bool m_secondInstance = false;
};

int qMain(int argc, char *argv[]);
