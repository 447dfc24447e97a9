#include "applog.h"
#include "apppaths.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>

#include <atomic>
#include <thread>

class TestSystemInfo : public QObject
{
    Q_OBJECT

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

private slots:
    void initTestCase() { setLogFile(appLogFile(), QDir(AppPaths().dataDir).filePath("debug.log")); }

    void everyVehicleLoadsAConsistentSystem()
    {
        QVERIFY(vehicleList().size() >= 4);
        for (const VehicleEntry &v : vehicleList()) {
            QVERIFY2(loadSystemInfo(v.name), qPrintable(v.name));
            const SystemInfo *info = systemInfo();
            QCOMPARE(QString::fromStdString(info->name), v.system);
            QCOMPARE(info->vehicle, v.name);
            QVERIFY(names(info->audio.codecs).contains(QString::fromStdString(info->audio.codec)));
            QVERIFY(info->audio.bitrate >= 64000 && int(info->audio.bitrate) <= info->audio.maxBitrate);
            QVERIFY(info->audio.samplingFrequency <= info->audio.maxSamplingFrequency);
            QVERIFY(!info->filingSystems.list.isEmpty());
            QCOMPARE(info->video.supported, !info->video.codecs.isEmpty());
            QCOMPARE(info->albumArt.supported, !info->albumArt.formats.isEmpty());
        }
    }

    void reloadNeverMixesTwoSystems()
    {
        QVERIFY(loadSystemInfo("Vinta"));
        SystemInfo *info = systemInfo();
        QCOMPARE(info->audio.codecs.size(), 4);
        QVERIFY(loadSystemInfo("Arvo"));
        QCOMPARE(systemInfo(), info);  // readers keep the pointer
        QCOMPARE(info->name, std::string("CMS-1100"));
        QCOMPARE(names(info->audio.codecs), QStringList({"mp3", "wmav2"}));
        QVERIFY(info->video.codecs.isEmpty() && info->albumArt.formats.isEmpty());
        QCOMPARE(info->playlists.list.size(), 1);
        // The same system twice holds each entry once.
        QVERIFY(loadSystemInfo("Arvo"));
        QCOMPARE(QList<qsizetype>({info->audio.codecs.size(), info->filingSystems.list.size()}),
            QList<qsizetype>({2, 2}));
    }

    // A job's copy, taken while another thread keeps choosing vehicles, is always one whole
    // system, never the emptied record of a refill in progress.
    void copiesAreWholeWhileRefilled()
    {
        QVERIFY(loadSystemInfo("Vinta"));
        std::atomic_bool done{false};
        std::thread chooser([&done] {
            for (int i = 0; i < 200; ++i)
                loadSystemInfo(i % 2 ? "Vinta" : "Arvo");
            done = true;
        });
        int copies = 0;
        QStringList broken;
        while (!done || copies == 0) {
            const SystemInfo copy = systemInfoCopy();
            const qsizetype codecs = copy.vehicle == "Vinta" ? 4 : copy.vehicle == "Arvo" ? 2 : -1;
            if (copy.audio.codecs.size() != codecs)
                broken << copy.vehicle + ": " + QString::number(copy.audio.codecs.size());
            ++copies;
        }
        chooser.join();
        QVERIFY2(broken.isEmpty(), qPrintable(broken.mid(0, 5).join(", ")));
    }

    void unknownVehicleLeavesNoStaleSystem()
    {
        QVERIFY(loadSystemInfo("Vinta"));
        QVERIFY(!loadSystemInfo("No Such Car"));
        const SystemInfo *info = systemInfo();
        QVERIFY(info->name.empty() && info->vehicle.isEmpty() && info->audio.codecs.isEmpty());
        QVERIFY(!info->video.supported && info->filingSystems.filingSystem.empty());
        QCOMPARE(info->audio.bitrate, 0u);
        QFile log(AppPaths().dataDir + "/debug.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Unknown vehicle, no system loaded: No Such Car"));
        // Names are compared exactly.
        QVERIFY(!loadSystemInfo("vinta") && !loadSystemInfo(QString()));
        QVERIFY(systemNameForVehicle("vinta").isEmpty());
        QVERIFY(vehicleModelYears("No Such Car").isEmpty() && vehicleNames("Nobody").isEmpty());
    }

    void attributeRules()
    {
        const QByteArray xml = R"(<Systems><Brand name="B">
            <System name="S">
              <AlbumArt supported="True" sizeX="abc" sizeY="-5"><Format name="JPEG" extension="jpg"/></AlbumArt>
              <Audio bitrate="128000" maxBitrate="x" codec="mp3" extension="mp3">
                <Codec name="mp3" extension="mp3" description="d"/><Codec name="" extension=""/>
              </Audio>
              <Video supported="false"><Codec name="h264"/></Video>
              <FilingSystems filingSystem="MS-DOS FAT32"><FilingSystem name="MS-DOS FAT32" maxFiles="10"/></FilingSystems>
            </System>
            <System name="T"><Audio><Codec name="flac"/></Audio></System>
          </Brand></Systems>)";
        SystemInfo info;
        QVERIFY(read(xml, "S", &info));
        QVERIFY(!info.albumArt.supported);  // only "true" exactly
        QCOMPARE(info.albumArt.sizeX, 0);
        QCOMPARE(info.audio.maxBitrate, 0);
        QVERIFY(!info.video.supported && info.video.codecs.isEmpty());
        QVERIFY(!info.playlists.supported);
        // The next system's elements never leak into this one, nor this one's into the next.
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
        QVERIFY(info.name.empty() && info.audio.codec.empty());
        QVERIFY(error.contains("malformed"));
        QVERIFY(!read("<Systems><System name=\"S\"/></Systems>", "Other", &info, &error));
        QVERIFY(error.contains("System not found"));
        QVERIFY(!read("", "S", &info, &error) && !read("not xml at all", "S", &info, &error));
        // Deep nesting is refused rather than followed.
        QVERIFY(!read("<Systems><System name=\"S\">" + QByteArray("<a>").repeated(5000), "S", &info, &error));
        QVERIFY(error.contains("deeply"));
        QVERIFY(!readSystemInfo(nullptr, "S", &info, &error));
        QCOMPARE(error, "Load XML File Problem.");

        QList<VehicleEntry> vehicles;
        QBuffer buffer;
        buffer.setData("<Vehicles><Brand name=\"B\"><Vehicle name=\"V\" system=\"S\"/>");
        QVERIFY(buffer.open(QIODevice::ReadOnly) && !readVehicleList(&buffer, &vehicles, &error));
        QVERIFY(vehicles.isEmpty());
    }
};

KIVO_TEST_MAIN(TestSystemInfo)
#include "tst_systeminfo.moc"
