#include "apppaths.h"
#include "coverfiles.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>

class TestCoverFiles : public QObject
{
    Q_OBJECT

private:
    static QString pngBase64()
    {
        QImage image(4, 4, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return QString::fromLatin1(bytes.toBase64());
    }

private slots:
    void base64OfFiles()
    {
        TestEnv env;
        QCOMPARE(fileToBase64(env.root() + "/missing.png"), QString(""));
        QVERIFY(!fileToBase64(env.root() + "/missing.png").isNull());
        QFile f(env.root() + "/a.bin");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\x00\xff\x10", 3));
        f.close();
        QCOMPARE(
            QByteArray::fromBase64(fileToBase64(f.fileName()).toLatin1()), QByteArray("\x00\xff\x10", 3));
    }

    void coversOnlyInsideTheArtworkFolder()
    {
        TestEnv env;
        const QString artwork = AppPaths::dataLocation() + AppPaths().artworkDir;
        QVERIFY(isInsideArtworkFolder(artwork + "/Album.png"));
        QVERIFY(!isInsideArtworkFolder(artwork));
        QVERIFY(!isInsideArtworkFolder(artwork + "/../escape.png"));
        QVERIFY(!isInsideArtworkFolder(artwork + "Other/x.png"));
        QVERIFY(!isInsideArtworkFolder(env.root() + "/music/cover.png"));

        QVERIFY(!saveCoverImage(env.root() + "/music/cover.png", pngBase64()));
        QVERIFY(!QFileInfo::exists(env.root() + "/music/cover.png"));
        QVERIFY(!saveCoverImage(artwork + "/../escape.png", pngBase64()));
        QVERIFY(!QFileInfo::exists(AppPaths::dataLocation() + "/Corvane-Media-Rarazarur/escape.png"));
    }

    void savesOnceAndRejectsGarbage()
    {
        TestEnv env;
        const QString path = AppPaths().artworkCachePath("Live: (1991)");
        QVERIFY(saveCoverImage(path, pngBase64()));
        QCOMPARE(QImage(path).size(), QSize(4, 4));
        const QByteArray first = QByteArray::fromBase64(fileToBase64(path).toLatin1());
        // An existing cover is never replaced.
        QVERIFY(!saveCoverImage(path, pngBase64()));
        QCOMPARE(QByteArray::fromBase64(fileToBase64(path).toLatin1()), first);

        const QString bad = AppPaths().artworkCachePath("Bad");
        QVERIFY(!saveCoverImage(bad, QString::fromLatin1(QByteArray("not an image").toBase64())));
        QVERIFY(!saveCoverImage(bad, QString("%%%")));
        QVERIFY(!QFileInfo::exists(bad));
        // No temporary file is left behind either.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList({"Live 1991.png"}));
    }
};

KIVO_TEST_MAIN(TestCoverFiles)
#include "tst_coverfiles.moc"
