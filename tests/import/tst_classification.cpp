#include "apppaths.h"
#include "coverfiles.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>

class TestClassification : public QObject
{
    Q_OBJECT

private slots:
    void suffixes()
    {
        for (const char *s : {"MP3", "Mp3", "mp3", "m4a", "m4b", "wma", "wav", "aiff", "flac", "ogg", "ape"})
            QVERIFY2(track_data::isAudioFile(QString::fromLatin1(s)), s);
        QVERIFY(!track_data::isAudioFile(".mp3"));
        QVERIFY(!track_data::isAudioFile("song.mp3"));
        QVERIFY(!track_data::isAudioFile("mp4"));
        QVERIFY(track_data::isPlaylistFile("M3U8"));
        QVERIFY(!track_data::isPlaylistFile("asx"));
        QVERIFY(!track_data::isAudioFile("nut") && !track_data::isPlaylistFile("nut"));
    }

    // Videos are imported only once the chosen system's video flag has been taken over.
    void videoSwitch()
    {
        track_data data;
        QVERIFY(!track_data::isVideoFile("mkv"));
        data.systemVideoSupported = true;
        QVERIFY(!track_data::isVideoFile("mkv"));
        QVERIFY(data.videoSupported());
        QVERIFY(track_data::isVideoFile("MKV"));
        QVERIFY(!track_data::isVideoFile("m4a"));
        data.systemVideoSupported = false;
        QVERIFY(!data.videoSupported());
        QVERIFY(!track_data::isVideoFile("mkv"));
    }

    void defaults()
    {
        track_data data;
        QVERIFY(!data.cancelSearch);
        QVERIFY(data.protectedFiles().isEmpty());
        QCOMPARE(data.ignoredPlaylists.size(), 10);
        QCOMPARE(data.ignoredPlaylists.at(4), QStringLiteral("90\u2019s music"));
        QVERIFY(!data.ignoredPlaylists.contains("90's music"));
    }

    void coverHelpersForward()
    {
        QCOMPARE(track_data::fileToBase64("/no/such/file"), QStringLiteral(""));
        const QString target = AppPaths().dataDir + "/Artwork/helper.png";
        track_data::saveCoverImage(target, QString::fromLatin1(QByteArray("not an image").toBase64()));
        QVERIFY(!QFile::exists(target));
    }
};

KIVO_TEST_MAIN(TestClassification)
#include "tst_classification.moc"
