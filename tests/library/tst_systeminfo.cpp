#include "applog.h"
#include "apppaths.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

class TestSystemInfo : public QObject
{
    Q_OBJECT

private:
    static QStringList names(const QList<AudioCodec> &codecs)
    {
        QStringList result;
        for (const AudioCodec &c : codecs)
            result.append(QString::fromStdString(c.name));
        return result;
    }

    static bool read(const QByteArray &xml, const QString &system, SystemInfo *out, QString *error = nullptr)
    {
        QBuffer buffer;
        buffer.setData(xml);
        buffer.open(QIODevice::ReadOnly);
        return readSystemInfo(&buffer, system, out, error);
    }

    // Every System name in the embedded systems list.
    static QStringList systemNames()
    {
        initKivoResources();
        QFile file(":resources/xml/systems.xml");
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QXmlStreamReader xml(&file);
        QStringList result;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("System"))
                result.append(xml.attributes().value("name").toString());
        }
        return xml.hasError() ? QStringList() : result;
    }

    static QString debugLog()
    {
        QFile f(AppPaths().dataDir + "/debug.log");
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void initTestCase()
    {
        const AppPaths paths;
        setLogFile(appLogFile(), QDir(paths.dataDir).filePath("debug.log"));
    }

    void resourcesUnderTheProgramsPaths()
    {
        initKivoResources();
        initKivoResources();  // harmless twice
        for (const char *path : {":resources/xml/systems.xml", ":/resources/xml/systems.xml",
                 ":resources/xml/vehicles.xml", ":/resources/xml/vehicles.xml"}) {
            QFile file(QString::fromLatin1(path));
            QVERIFY2(file.open(QIODevice::ReadOnly), path);
            QVERIFY(file.size() > 100);
        }
    }

    void systemsListIsWellFormedAndComplete()
    {
        const QStringList systems = systemNames();
        QVERIFY(systems.size() >= 3);
        QCOMPARE(QSet<QString>(systems.begin(), systems.end()).size(), systems.size());

        // Every vehicle names a system that exists, with a sane range of model years.
        const QList<VehicleEntry> vehicles = vehicleList();
        QVERIFY(vehicles.size() >= 4);
        QSet<QString> vehicleNamesSeen;
        for (const VehicleEntry &v : vehicles) {
            QVERIFY2(systems.contains(v.system), qPrintable(v.name));
            QVERIFY(!v.brand.isEmpty());
            QVERIFY(v.firstYear >= 1990 && v.firstYear <= v.lastYear);
            QVERIFY2(!vehicleNamesSeen.contains(v.name), qPrintable(v.name));
            vehicleNamesSeen.insert(v.name);
        }
        const QStringList brands = vehicleBrands();
        QVERIFY(brands.contains("Corvane"));
        QCOMPARE(brands.size(), QSet<QString>(brands.begin(), brands.end()).size());
    }

    void loadEverySystem()
    {
        // Each vehicle loads its system completely and consistently.
        for (const VehicleEntry &v : vehicleList()) {
            QVERIFY2(loadSystemInfo(v.name), qPrintable(v.name));
            const SystemInfo *info = systemInfo();
            QCOMPARE(QString::fromStdString(info->name), v.system);
            QCOMPARE(info->vehicle, v.name);
            QVERIFY(!info->audio.codecs.isEmpty());
            QVERIFY(names(info->audio.codecs).contains(QString::fromStdString(info->audio.codec)));
            QVERIFY(!info->audio.extension.empty());
            QVERIFY(info->audio.bitrate >= 64000 && int(info->audio.bitrate) <= info->audio.maxBitrate);
            QVERIFY(info->audio.samplingFrequency >= 22050);
            QVERIFY(info->audio.samplingFrequency <= info->audio.maxSamplingFrequency);
            const QString fs = QString::fromStdString(info->filingSystems.filingSystem);
            QVERIFY2(fs == "MS-DOS FAT32" || fs == "MS-DOS FAT16", qPrintable(fs));
            QCOMPARE(info->filingSystems.filingSystemNumber, 0u);
            QVERIFY(!info->filingSystems.list.isEmpty());
            QCOMPARE(info->video.supported, !info->video.codecs.isEmpty());
            QCOMPARE(info->playlists.supported, !info->playlists.list.isEmpty());
            QCOMPARE(info->albumArt.supported, !info->albumArt.formats.isEmpty());
            for (const AudioCodec &c : info->audio.codecs) {
                const QString name = QString::fromStdString(c.name);
                QVERIFY2(QStringList({"mp3", "aac", "wmav2", "flac"}).contains(name), qPrintable(name));
            }
        }
    }

    void systemsDifferInWhatTheyPlay()
    {
        QVERIFY(loadSystemInfo("Arvo"));
        SystemInfo *info = systemInfo();
        QCOMPARE(names(info->audio.codecs), QStringList({"mp3", "wmav2"}));
        QVERIFY(!info->video.supported);
        QVERIFY(!info->albumArt.supported);

        QVERIFY(loadSystemInfo("Belka"));
        QCOMPARE(names(info->audio.codecs), QStringList({"mp3", "aac", "wmav2"}));
        QCOMPARE(info->audio.codecs.at(1).extension, std::string("m4a,m4b,mp4,aac"));
        QVERIFY(info->video.supported);
        QCOMPARE(info->video.codecs.size(), 1);
        const VideoCodec &h264 = info->video.codecs.first();
        QCOMPARE(h264.name, std::string("h264"));
        QCOMPARE(h264.acodec, std::string("aac"));
        QCOMPARE(h264.width, 720u);
        QCOMPARE(h264.height, 480u);
        QCOMPARE(h264.level, 31u);
        QCOMPARE(h264.maxBitrate, 2500000u);
        QVERIFY(info->albumArt.supported);
        QCOMPARE(info->albumArt.sizeX, 320);
        QCOMPARE(info->albumArt.formats.first().extension, std::string("jpeg,jpg"));
        QCOMPARE(info->filingSystems.list.first().maxFileSize, 4294967295u);

        QVERIFY(loadSystemInfo("Vinta"));
        QCOMPARE(names(info->audio.codecs), QStringList({"mp3", "aac", "wmav2", "flac"}));
        QCOMPARE(info->playlists.list.size(), 3);
    }

    void reloadNeverMixesTwoSystems()
    {
        QVERIFY(loadSystemInfo("Vinta"));
        SystemInfo *info = systemInfo();
        QCOMPARE(info->audio.codecs.size(), 4);
        QVERIFY(loadSystemInfo("Arvo"));
        QCOMPARE(systemInfo(), info);  // readers keep the pointer
        QCOMPARE(info->name, std::string("CMS-1100"));
        QCOMPARE(info->vehicle, QString("Arvo"));
        QCOMPARE(names(info->audio.codecs), QStringList({"mp3", "wmav2"}));
        QVERIFY(info->video.codecs.isEmpty());
        QVERIFY(info->albumArt.formats.isEmpty());
        QCOMPARE(info->playlists.list.size(), 1);
        QCOMPARE(info->filingSystems.list.size(), 2);

        // The same system twice holds each entry once.
        QVERIFY(loadSystemInfo("Arvo"));
        QCOMPARE(info->audio.codecs.size(), 2);
        QCOMPARE(info->filingSystems.list.size(), 2);
    }

    void mediaRootIsNamedAfterTheVehicle()
    {
        QVERIFY(loadSystemInfo("Tessaro"));
        const QString root = "/media/stick" + QStringLiteral("/") + systemInfo()->vehicle + " Media/";
        QCOMPARE(root, QString("/media/stick/Tessaro Media/"));
    }

    void unknownVehicleLeavesNoStaleSystem()
    {
        QVERIFY(loadSystemInfo("Vinta"));
        QVERIFY(!loadSystemInfo("No Such Car"));
        const SystemInfo *info = systemInfo();
        QVERIFY(info->name.empty());
        QVERIFY(info->vehicle.isEmpty());
        QVERIFY(info->audio.codecs.isEmpty());
        QVERIFY(!info->video.supported);
        QVERIFY(info->filingSystems.filingSystem.empty());
        QCOMPARE(info->audio.bitrate, 0u);
        QVERIFY(debugLog().contains("Unknown vehicle, no system loaded: No Such Car"));

        // Names are compared exactly.
        QVERIFY(!loadSystemInfo("vinta"));
        QVERIFY(!loadSystemInfo(QString()));
        QVERIFY(systemNameForVehicle("vinta").isEmpty());
        QCOMPARE(systemNameForVehicle("Vinta"), QString("CMS-3300"));
    }

    void vehicleSelectionLists()
    {
        QCOMPARE(vehicleNames("Corvane"), QStringList({"Arvo", "Belka", "Tessaro", "Vinta"}));
        QVERIFY(vehicleNames("Nobody").isEmpty());
        QCOMPARE(vehicleModelYears("Arvo"), QStringList({"2010", "2011", "2012", "2013"}));
        QVERIFY(vehicleModelYears("No Such Car").isEmpty());
    }

    void attributeRules()
    {
        const QByteArray xml = R"(<Systems><Brand name="B">
            <System name="S">
              <AlbumArt supported="True" sizeX="abc" sizeY="-5"><Format name="JPEG" extension="jpg"/></AlbumArt>
              <Audio bitrate="128000" maxBitrate="x" codec="mp3" extension="mp3">
                <Codec name="mp3" extension="mp3" description="d"/>
                <Codec name="" extension=""/>
              </Audio>
              <Video supported="false"><Codec name="h264"/></Video>
              <FilingSystems filingSystem="MS-DOS FAT32"><FilingSystem name="MS-DOS FAT32" maxFiles="10"/></FilingSystems>
              <Playlists><Playlist name="M3U" extension="m3u"/></Playlists>
            </System>
            <System name="T"><Audio><Codec name="flac"/></Audio></System>
          </Brand></Systems>)";
        SystemInfo info;
        QVERIFY(read(xml, "S", &info));
        QVERIFY(!info.albumArt.supported);  // only "true" exactly
        QCOMPARE(info.albumArt.sizeX, 0);
        QCOMPARE(info.albumArt.sizeY, -5);
        QCOMPARE(info.albumArt.formats.size(), 1);
        QCOMPARE(info.audio.maxBitrate, 0);
        QCOMPARE(info.audio.bitrate, 128000u);
        QCOMPARE(info.audio.codecs.size(), 2);  // the record keeps what the list says
        QVERIFY(!info.video.supported);
        QVERIFY(info.video.codecs.isEmpty());
        QVERIFY(!info.playlists.supported);
        QVERIFY(info.playlists.list.isEmpty());
        QCOMPARE(info.filingSystems.filingSystem, std::string("MS-DOS FAT32"));
        QCOMPARE(info.filingSystems.filingSystemNumber, 0u);
        QCOMPARE(info.filingSystems.list.first().maxFiles, 10);
        QVERIFY(info.vehicle.isEmpty());

        // The next system's elements never leak into this one.
        QCOMPARE(names(info.audio.codecs), QStringList({"mp3", ""}));
        QVERIFY(read(xml, "T", &info));
        QCOMPARE(names(info.audio.codecs), QStringList({"flac"}));
        QVERIFY(info.albumArt.formats.isEmpty());
    }

    void malformedListsFailClearly()
    {
        SystemInfo info;
        QString error;
        info.name = "stale";
        QVERIFY(!read("<Systems><System name=\"S\"><Audio codec=\"mp3\">", "S", &info, &error));
        QVERIFY(info.name.empty());
        QVERIFY(info.audio.codec.empty());
        QVERIFY(error.contains("malformed"));

        QVERIFY(!read("<Systems><System name=\"S\"/></Systems>", "Other", &info, &error));
        QVERIFY(error.contains("System not found"));
        QVERIFY(!read("", "S", &info, &error));
        QVERIFY(!read("not xml at all", "S", &info, &error));

        // Deep nesting is refused rather than followed.
        QByteArray deep = "<Systems><System name=\"S\">";
        for (int i = 0; i < 5000; ++i)
            deep += "<a>";
        QVERIFY(!read(deep, "S", &info, &error));
        QVERIFY(error.contains("deeply"));

        QVERIFY(!readSystemInfo(nullptr, "S", &info, &error));
        QCOMPARE(error, QString("Load XML File Problem."));

        QList<VehicleEntry> vehicles;
        QBuffer buffer;
        buffer.setData("<Vehicles><Brand name=\"B\"><Vehicle name=\"V\" system=\"S\"/>");
        buffer.open(QIODevice::ReadOnly);
        QVERIFY(!readVehicleList(&buffer, &vehicles, &error));
        QVERIFY(vehicles.isEmpty());
    }
};

KIVO_TEST_MAIN(TestSystemInfo)
#include "tst_systeminfo.moc"
