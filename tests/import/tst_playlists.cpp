#include "playlistreader.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

class TestPlaylists : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

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

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QStringList read(const QString &name, const QByteArray &bytes)
    {
        return readPlaylistFile(QFileInfo(write(name, bytes)));
    }

    // The XML reader reports a damaged file on both channels.
    static void expectXmlProblem(const char *pattern)
    {
        QTest::ignoreMessage(QtDebugMsg, "Load XML File Problem.");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(pattern));
    }

private slots:
    void entries_data()
    {
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        const QString root = m_dir.path();
        const QString folder = root + "/lists";
        // Comments, blank lines, padding, "\" separators, "..", absolute paths and URLs.
        const QString m3u
            = "#EXTM3U\r\n#EXTINF:123,Artist - Title\r\nSong One.mp3\r\n\r\n"
              "  sub\\Ünïcødé Ærø.flac  \r\n../up.mp3\n/abs/missing.mp3\n"
              "http://radio.example.org:8000/stream\n#EXTINF:-1,comment only\nMusic\\Sub\\win.mp3";
        const QStringList m3uEntries
            = {folder + "/Song One.mp3", folder + "/sub/Ünïcødé Ærø.flac", root + "/up.mp3",
                "/abs/missing.mp3", "http://radio.example.org:8000/stream", folder + "/Music/Sub/win.mp3"};
        const QString pls
            = "[playlist]\nNumberOfEntries=5\nFile1=Song One.mp3\nTitle1=Song One\nLength1=-1\n"
              "File2=sub\\Ünïcødé.flac\r\n; a comment\nFile3=http://radio.example.org/stream?id=1\n"
              "file4 = /abs/missing.mp3\nFile5=..\\up=beat.mp3\nVersion=2\n";
        const QStringList plsEntries = {folder + "/Song One.mp3", folder + "/sub/Ünïcødé.flac",
            "http://radio.example.org/stream?id=1", "/abs/missing.mp3", root + "/up=beat.mp3"};
        const QString wpl
            = "<?wpl version=\"1.0\"?>\n<smil><head><title>Mix</title></head><body><seq>\n"
              "<media src=\"..\\Music\\a.mp3\"/>\n<media src=\"sub\\Rock &amp; Röll.wma\" tid=\"{1}\"/>\n"
              "<media src=\"/abs/d.mp3\"/>\n<media src=\"https://host.example/e.mp3\"/>\n<media/>\n"
              "</seq></body></smil>\n";
        // ".." names the folder above the playlist, not the user's music folder.
        const QStringList wplEntries = {root + "/Music/a.mp3", folder + "/sub/Rock & Röll.wma", "/abs/d.mp3",
            "https://host.example/e.mp3"};
        for (const char *encoding : {"utf8", "utf8bom", "utf16le", "utf16be"}) {
            const QString e = QString::fromLatin1(encoding);
            QTest::addRow("%s m3u", encoding) << e << "lists/Road Trip.m3u" << m3u << m3uEntries;
            QTest::addRow("%s M3U8", encoding) << e << "lists/Road Trip.M3U8" << m3u << m3uEntries;
            QTest::addRow("%s pls", encoding) << e << "lists/list.pls" << pls << plsEntries;
            QTest::addRow("%s WPL", encoding) << e << "lists/mix.WPL" << wpl << wplEntries;
        }
    }

    void entries()
    {
        QFETCH(QString, encoding);
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(read(name, encode(text, encoding)), expected);
    }

    void playerLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const QString folder = m_dir.path() + "/players";
        write("players/My Song.mp3", "x");
        write("players/Café.mp3", "x");
        const auto row = [](const char *name, const QString &line, const QString &expected) {
            QTest::newRow(name) << line << expected;
        };
        // Windows paths are absolute: never joined to the playlist's folder.
        row("drive, backslashes", "C:\\Music\\a.mp3", "C:/Music/a.mp3");
        row("drive, slashes", "d:/Music/a.mp3", "d:/Music/a.mp3");
        row("network share", "\\\\server\\share\\a.mp3", "//server/share/a.mp3");
        // File URLs are local paths, decoded.
        row("file url", "file:///home/me/My%20Song.mp3", "/home/me/My Song.mp3");
        row("file url, localhost", "file://localhost/home/me/Caf%C3%A9.mp3", "/home/me/Café.mp3");
        row("file url, unencoded", "file:///home/me/My Song.mp3", "/home/me/My Song.mp3");
        row("file url, drive", "file:///C:/Music/a%20b.mp3", "C:/Music/a b.mp3");
        row("file url, other host", "file://server/share/a.mp3", "file://server/share/a.mp3");
        // Percent-encoded relative entries, decoded only where that names a file.
        row("encoded", "My%20Song.mp3", folder + "/My Song.mp3");
        row("encoded utf-8", "Caf%C3%A9.mp3", folder + "/Café.mp3");
        row("encoded, no such file", "Not%20Here.mp3", folder + "/Not%20Here.mp3");
        row("plain", "My Song.mp3", folder + "/My Song.mp3");
    }

    // Lines as players and Windows write them, read as a person would read them.
    void playerLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(read("players/list.m3u", ("#EXTM3U\n#EXTINF:1,x\n" + line + "\n").toUtf8()),
            QStringList{expected});
        QCOMPARE(
            read("players/list.pls", ("[playlist]\nFile1=" + line + "\n").toUtf8()), QStringList{expected});
    }

    // Playlists are untrusted: odd bytes, wrong kinds, cut or deep XML and huge files give what
    // could be read, or nothing, and never crash.
    void untrustedFiles()
    {
        const QString root = m_dir.path();
        QCOMPARE(read("old.m3u", "caf\xe9.mp3\n"), QStringList{root + "/café.mp3"});
        for (const char *name : {"a.xspf", "a.txt", "m3u"})
            QVERIFY(read(name, "song.mp3\n").isEmpty());

        QVERIFY(QDir().mkpath(root + "/folder.pls"));
        for (const QString &unreadable : {root + "/missing.m3u", root + "/folder.pls"}) {
            QTest::ignoreMessage(QtDebugMsg, qPrintable("Failed to open read only file " + unreadable));
            QVERIFY(readPlaylistFile(QFileInfo(unreadable)).isEmpty());
        }

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Not a text playlist"));
        QVERIFY(
            read("image.m3u", QByteArray("\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR", 16) + QByteArray(200, '\0'))
                .isEmpty());
        expectXmlProblem("Playlist .* line");
        QVERIFY(read("text.wpl", "song.mp3\n").isEmpty());
        QVERIFY(read("x.pls", "[a]\nkey=value\n").isEmpty());
        QVERIFY(read("x.wpl", "<a><b src=\"x.mp3\"/></a>").isEmpty());
        // A streaming manifest is no music playlist.
        QVERIFY(
            read("live.m3u8", "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.ts\n")
                .isEmpty());
        // Lines too long to be a path are left out.
        QCOMPARE(
            read("long.m3u", QByteArray(5000, 'a') + ".mp3\nshort.mp3\n"), QStringList{root + "/short.mp3"});

        expectXmlProblem("cut.wpl");
        QCOMPARE(
            read("cut.wpl", "<smil><body><seq><media src=\"a.mp3\"/><media src=\"b.mp3\"/><media src=\"c.m"),
            QStringList({root + "/a.mp3", root + "/b.mp3"}));
        expectXmlProblem("nested too deeply");
        QCOMPARE(read("deep.wpl",
                     "<smil><media src=\"first.mp3\"/>" + QByteArray("<seq>").repeated(5000)
                         + "<media src=\"deep.mp3\"/>"),
            QStringList{root + "/first.mp3"});

        QByteArray big(kMaxPlaylistBytes + 1, 'a');
        big[1] = '\n';
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("too large"));
        QVERIFY(read("big.m3u", big).isEmpty());
    }
};

KIVO_TEST_MAIN(TestPlaylists)
#include "tst_playlists.moc"
