#include "playlistreader.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringEncoder>

class TestPlaylists : public QObject
{
    Q_OBJECT

private:
    static QByteArray encode(const QString &text, const QString &encoding)
    {
        if (encoding == "utf8")
            return text.toUtf8();
        if (encoding == "utf8bom")
            return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        const bool little = encoding == "utf16le";
        QStringEncoder encoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        return QByteArray(little ? "\xFF\xFE" : "\xFE\xFF") + QByteArray(encoder.encode(text));
    }

    static QString write(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static void addEncodings()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("suffix");
        for (const char *encoding : {"utf8", "utf8bom", "utf16le", "utf16be"}) {
            for (const char *suffix : {"m3u", "m3u8", "M3U"})
                QTest::addRow("%s-%s", encoding, suffix) << QString(encoding) << QString(suffix);
        }
    }

private slots:
    void m3uEntries_data() { addEncodings(); }
    void m3uEntries()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, suffix);
        TestEnv env;
        const QString folder = env.root() + "/lists";
        const QString text = "#EXTM3U\r\n"
                             "#EXTINF:123,Artist - Title\r\n"
                             "Song One.mp3\r\n"
                             "\r\n"
                             "  sub\\Ünïcødé Ærø.flac  \r\n"
                             "../up.mp3\n"
                             "/abs/missing.mp3\n"
                             "http://radio.example.org:8000/stream\n"
                             "#EXTINF:-1,comment only\n"
                             "Music\\Sub\\win.mp3";
        const QString path = write(folder + "/Road Trip." + suffix, encode(text, encoding));
        const QStringList expected
            = {folder + "/Song One.mp3", folder + "/sub/Ünïcødé Ærø.flac", env.root() + "/up.mp3",
                "/abs/missing.mp3", "http://radio.example.org:8000/stream", folder + "/Music/Sub/win.mp3"};
        QCOMPARE(readPlaylistFile(QFileInfo(path)), expected);
    }

    void plsEntries_data()
    {
        QTest::addColumn<QString>("encoding");
        for (const char *encoding : {"utf8", "utf8bom", "utf16le", "utf16be"})
            QTest::newRow(encoding) << QString(encoding);
    }
    void plsEntries()
    {
        QFETCH(QString, encoding);
        TestEnv env;
        const QString folder = env.root() + "/lists";
        const QString text = "[playlist]\n"
                             "NumberOfEntries=5\n"
                             "File1=Song One.mp3\n"
                             "Title1=Song One\n"
                             "Length1=-1\n"
                             "File2=sub\\Ünïcødé.flac\r\n"
                             "; a comment\n"
                             "File3=http://radio.example.org/stream?id=1\n"
                             "file4 = /abs/missing.mp3\n"
                             "File5=..\\up=beat.mp3\n"
                             "Version=2\n";
        const QString path = write(folder + "/list.pls", encode(text, encoding));
        const QStringList expected = {folder + "/Song One.mp3", folder + "/sub/Ünïcødé.flac",
            "http://radio.example.org/stream?id=1", "/abs/missing.mp3", env.root() + "/up=beat.mp3"};
        QCOMPARE(readPlaylistFile(QFileInfo(path)), expected);
    }

    void wplEntries_data()
    {
        QTest::addColumn<QString>("encoding");
        for (const char *encoding : {"utf8", "utf8bom", "utf16le", "utf16be"})
            QTest::newRow(encoding) << QString(encoding);
    }
    void wplEntries()
    {
        QFETCH(QString, encoding);
        TestEnv env;
        const QString folder = env.root() + "/lists";
        const QString text = "<?wpl version=\"1.0\"?>\n"
                             "<smil><head><title>Mix</title></head><body><seq>\n"
                             "<media src=\"..\\Music\\a.mp3\"/>\n"
                             "<media src=\"sub\\Rock &amp; Röll.wma\" tid=\"{1}\"/>\n"
                             "<media src=\"/abs/d.mp3\"/>\n"
                             "<media src=\"https://host.example/e.mp3\"/>\n"
                             "<media/>\n"
                             "</seq></body></smil>\n";
        const QString path = write(folder + "/mix.WPL", encode(text, encoding));
        // ".." entries name the folder above the playlist, not the user's music folder.
        const QStringList expected = {env.root() + "/Music/a.mp3", folder + "/sub/Rock & Röll.wma",
            "/abs/d.mp3", "https://host.example/e.mp3"};
        QCOMPARE(readPlaylistFile(QFileInfo(path)), expected);
    }

    void latin1M3uIsRead()
    {
        TestEnv env;
        const QString path = write(env.root() + "/old.m3u", QByteArray("caf\xe9.mp3\n"));
        QCOMPARE(readPlaylistFile(QFileInfo(path)), QStringList{env.root() + "/café.mp3"});
    }

    void otherSuffixesGiveNothing()
    {
        TestEnv env;
        const QByteArray m3u("song.mp3\n");
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/a.xspf", m3u))).isEmpty());
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/a.txt", m3u))).isEmpty());
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/m3u", m3u))).isEmpty());
    }

    void unreadableFilesGiveNothing()
    {
        TestEnv env;
        const QString missing = env.root() + "/missing.m3u";
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Failed to open read only file " + missing));
        QVERIFY(readPlaylistFile(QFileInfo(missing)).isEmpty());

        const QString dir = env.root() + "/folder.pls";
        QVERIFY(QDir().mkpath(dir));
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Failed to open read only file " + dir));
        QVERIFY(readPlaylistFile(QFileInfo(dir)).isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QVERIFY(readPlaylistFile(QFileInfo(env.root() + "/missing.wpl")).isEmpty());
    }

    void filesThatAreNoPlaylists()
    {
        TestEnv env;
        QByteArray png("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x01", 20);
        png += QByteArray(200, '\0');
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Not a text playlist"));
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/image.m3u", png))).isEmpty());

        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Playlist .* line"));
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/text.wpl", "song.mp3\n"))).isEmpty());

        // An ini file without "file" keys, and an XML file without "media" elements.
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/x.pls", "[a]\nkey=value\n"))).isEmpty());
        QVERIFY(
            readPlaylistFile(QFileInfo(write(env.root() + "/x.wpl", "<a><b src=\"x.mp3\"/></a>"))).isEmpty());

        // Lines too long to be a path are left out.
        const QString longLine = QString(5000, 'a') + ".mp3\nshort.mp3\n";
        QCOMPARE(readPlaylistFile(QFileInfo(write(env.root() + "/long.m3u", longLine.toUtf8()))),
            QStringList{env.root() + "/short.mp3"});
    }

    void malformedWplGivesWhatWasRead()
    {
        TestEnv env;
        const QString truncated = write(env.root() + "/cut.wpl",
            "<smil><body><seq><media src=\"a.mp3\"/><media src=\"b.mp3\"/><media src=\"c.m");
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cut.wpl"));
        QCOMPARE(readPlaylistFile(QFileInfo(truncated)),
            QStringList({env.root() + "/a.mp3", env.root() + "/b.mp3"}));

        QByteArray deep = "<smil><media src=\"first.mp3\"/>";
        for (int i = 0; i < 5000; ++i)
            deep += "<seq>";
        deep += "<media src=\"deep.mp3\"/>";
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("nested too deeply"));
        QCOMPARE(readPlaylistFile(QFileInfo(write(env.root() + "/deep.wpl", deep))),
            QStringList{env.root() + "/first.mp3"});
    }

    void oversizedFilesAreRefused()
    {
        TestEnv env;
        QByteArray big(kMaxPlaylistBytes + 1, 'a');
        big[0] = 'b';
        big[1] = '\n';
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too large"));
        QVERIFY(readPlaylistFile(QFileInfo(write(env.root() + "/big.m3u", big))).isEmpty());
    }
};

KIVO_TEST_MAIN(TestPlaylists)
#include "tst_playlists.moc"
