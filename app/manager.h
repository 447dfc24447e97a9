#pragma once

#include "apppaths.h"
#include "messagehandler.h"
#include "track.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>

class QmlApplicationViewer;
class QQmlContext;
class Combo;

// The controller that serves the front end: it holds the library's track map and publishes the
// list models QML shows. Only the main thread changes the maps and the models.
class manager : public QObject
{
    Q_OBJECT
public:
    explicit manager(QObject *parent = nullptr);
    ~manager() override;

    // Quality class of a bit rate in kbit/s.
    static qint16 bitrateClass(qint16 bitrate);

    // Reads the vehicle settings, publishes texts and models, loads the front end from `qmlFile`
    // and creates the vehicle selection on its root object. False when the front end cannot load.
    bool init(QmlApplicationViewer *viewer, const QString &qmlFile);
    void initContextProperties();

    const TrackMap &library() const { return m_library; }
    Combo *combo() const { return m_combo; }

    const QList<QObject *> &artistModel() const { return m_artistModel; }
    const QList<QObject *> &albumModel() const { return m_albumModel; }
    const QList<QObject *> &trackModel() const { return m_trackModel; }
    const QList<QObject *> &playlistModel() const { return m_playlistModel; }

signals:
    void sgShowMessage(QVariant text);

public slots:
    // Loads the library from the store and rebuilds the album, artist, track and playlist models.
    void setMainValue();
    // Closing: stops what runs, waits for pool jobs, then closes the log.
    void saveData();
    void exeClose();

private:
    void buildModels();
    void publishModels();

    AppPaths m_paths;
    MessageHandler m_messages;
    TrackMap m_library;
    QList<QObject *> m_artistModel;
    QList<QObject *> m_albumModel;
    QList<QObject *> m_trackModel;
    QList<QObject *> m_playlistModel;
    QPointer<QmlApplicationViewer> m_viewer;
    QPointer<Combo> m_combo;
    bool m_saved = false;
};
