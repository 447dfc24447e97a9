#include "drive.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>

using platform::MountedVolume;

// The drive list, the format guard and the formatter, against a fake sysfs and mount table.
class TestDrive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<MountedVolume> m_mounts;
    int m_reads = 0;

    QString mountPoint(const QString &name) const
    {
        const QString path = m_dir.filePath("media/" + name);
        QDir().mkpath(path);
        return path;
    }

    // A block device in the fake sysfs, found under `bus` (its disk is the folder above it).
    void addDevice(const QString &bus, const QString &disk, const QString &partition)
    {
        const QString sys = m_dir.filePath("sys");
        const QString real = QString("%1/devices/%2/block/%3/%4").arg(sys, bus, disk, partition);
        QDir().mkpath(real);
        QDir().mkpath(sys + "/class/block");
        QFile::link(real, sys + "/class/block/" + partition);
    }

    MountedVolume &mount(
        const QString &root, const QString &device, qint64 total = 16000000000, qint64 free = 4000000000)
    {
        m_mounts.append({root, device, "vfat", QFileInfo(root).fileName(), total, free, false});
        return m_mounts.last();
    }

    platform::VolumeProvider provider()
    {
        return platform::VolumeProvider(m_dir.filePath("sys"), [this] {
            ++m_reads;
            return m_mounts;
        });
    }

    static QStringList names(const QList<MountedVolume> &volumes)
    {
        QStringList list;
        for (const MountedVolume &v : volumes)
            list << QFileInfo(v.rootPath).fileName();
        return list;
    }

private slots:
    void initTestCase()
    {
        addDevice("pci0000:00/0000:00:02.0/virtio1", "vda", "vda1");
        addDevice("pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0", "sdb", "sdb1");
        addDevice("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host7/target7:0:0/7:0:0:0", "sdc", "sdc1");
        addDevice("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0/8:0:0:0", "sdd", "sdd1");
        addDevice("platform/fe320000.mmc/mmc_host/mmc0/mmc0:0001", "mmcblk0", "mmcblk0p1");
    }

    void init()
    {
        m_mounts.clear();
        mount("/", "/dev/vda1");
        mount("/dev/shm", "tmpfs");
    }

    void volumeProvider()
    {
        mount(mountPoint("STICK"), "/dev/sdb1");
        mount(mountPoint("CARD"), "/dev/mmcblk0p1");
        mount(mountPoint("LOCKED"), "/dev/sdc1").readOnly = true;
        const platform::VolumeProvider p = provider();
        QCOMPARE(names(p.removableVolumes()), QStringList({"STICK", "CARD"}));
        QCOMPARE(p.diskOf("/dev/sdb1"), QString("sdb"));
        QCOMPARE(p.diskOf("/dev/mmcblk0p1"), QString("mmcblk0"));
        QCOMPARE(p.diskOf("tmpfs"), QString());
        QCOMPARE(p.volumeHolding(mountPoint("STICK") + "/Music").device, QString("/dev/sdb1"));
        QCOMPARE(p.volumeHolding(m_dir.filePath("elsewhere")).device, QString("/dev/vda1"));
    }

    // Sizes, unstable readings, a large card, a chosen folder, and two sticks pulled at once.
    void poll()
    {
        Drive drive;
        drive.setVolumeProvider(provider());
        drive.GetDriveDetail();
        QCOMPARE(drive.driveList(), QStringList{"No Drive"});
        QVERIFY(drive.drivedetails().isEmpty());

        const QString stick = mountPoint("STICK"), card = mountPoint("CARD"), folder = m_dir.filePath("out");
        mount(stick, "/dev/sdb1");
        mount(card, "/dev/mmcblk0p1", 600LL << 30, 100LL << 30);
        drive.GetDriveDetail();
        QCOMPARE(drive.driveList(), QStringList({stick, card}));
        auto *first = static_cast<DriveData *>(drive.drivedetails().at(0));
        QCOMPARE(QStringList({first->totalspace(), first->freespace(), first->usedspace()}),
            QStringList({"14.90", "3.73", "11.18"}));
        QCOMPARE(first->freespace1(), 4000000000LL);
        QCOMPARE(static_cast<DriveData *>(drive.drivedetails().at(1))->totalspace(), QString("600.00"));

        // A stick whose size changes between reads waits for a stable poll.
        const QString settling = mountPoint("NEW");
        mount(settling, "/dev/sdc1");
        drive.setVolumeProvider(platform::VolumeProvider(m_dir.filePath("sys"), [this] {
            QList<MountedVolume> now = m_mounts;
            now.last().bytesTotal += ++m_reads;
            return now;
        }));
        drive.GetDriveDetail();
        QCOMPARE(drive.driveList().size(), 2);
        drive.setVolumeProvider(provider());

        QDir().mkpath(folder);
        drive.folderChooser = [folder] { return folder; };
        drive.openDialog();
        drive.GetDriveDetail();
        QCOMPARE(drive.driveList(), QStringList({stick, card, settling, folder}));
        auto *chosen = static_cast<DriveData *>(drive.drivedetails().last());
        QCOMPARE(chosen->isSystem(), 1);
        QCOMPARE(chosen->freespace1(), 0);
        QVERIFY(chosen->totalspace().isEmpty());

        m_mounts.removeAt(2);
        m_mounts.removeAt(2);
        drive.GetDriveDetail();
        QCOMPARE(drive.driveList(), QStringList({settling, folder}));
        QCOMPARE(drive.drivedetails().size(), 2);

        drive.timerexe(1);
        drive.timerexe(1);
        QVERIFY(drive.isPolling());
        QVERIFY(drive.driveList().isEmpty());
        drive.timerexe(0);
        QVERIFY(!drive.isPolling());
    }

    // Only a listed stick or card, off the disks of the system and the data folder, is formatted;
    // a failed format is told and transfers nothing.
    void formatGuard()
    {
        const QString stick = mountPoint("STICK"), boot = mountPoint("BOOT"), folder = m_dir.filePath("out");
        QDir().mkpath(folder);
        mount(stick, "/dev/sdb1");
        m_mounts.first().device = "/dev/sdd2";  // the system runs from a USB disk, sdd
        addDevice("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0/8:0:0:0", "sdd", "sdd2");
        mount(boot, "/dev/sdd1");
        QStringList commands;
        int mkfsExit = 0;
        Drive drive(nullptr, nullptr);
        drive.setVolumeProvider(provider());
        drive.formatter = platform::Formatter([&](const QString &program, const QStringList &args) {
            commands << program + " " + args.join(' ');
            return platform::CommandResult{true, program.startsWith("mkfs") ? mkfsExit : 0, {}};
        });
        drive.folderChooser = [folder] { return folder; };
        drive.openDialog();
        drive.GetDriveDetail();
        QSignalSpy messages(&drive, &Drive::showMessageBox);
        QSignalSpy ended(&drive, &Drive::sgTransferEnded);

        for (const QString &refused : {boot, m_dir.filePath("media")}) {
            drive.ContinueDrive(refused, 1, 0, 0, 0);
            QVERIFY(!drive.isBusy());
        }
        QCOMPARE(messages.size(), 2);
        drive.ContinueDrive(folder, 1, 0, 0, 0);
        QVERIFY(ended.wait(10000));
        QVERIFY(commands.isEmpty());

        // Urizen's system keeps its media on FAT16.
        QVERIFY(loadSystemInfo("Urizen"));
        mkfsExit = 1;
        QSignalSpy waitHidden(&drive, &Drive::sgHideFormatWait);
        drive.ContinueDrive(stick, 1, 0, 0, 0);
        QVERIFY(waitHidden.wait(10000));
        QCOMPARE(ended.size(), 1);
        QVERIFY(messages.last().first().toString().startsWith(DriveMessages().formatFailed));
        QCOMPARE(commands.size(), 3);
        QCOMPARE(commands.at(1), QString("mkfs.vfat -F 16 -n STICK /dev/sdb1"));
        QVERIFY(commands.at(0).contains("mount") && commands.at(2).contains("mount"));
    }

    void realFormat()
    {
        const QString image = m_dir.filePath("card.img");
        QCOMPARE(QProcess::execute("truncate", {"-s", "40M", image}), 0);
        const platform::FormatResult result
            = platform::Formatter().format(image, {}, platform::FileSystemKind::Fat32, "Road trip!");
        QVERIFY2(result.ok, qPrintable(result.error));
        QProcess info;
        info.start("minfo", {"-i", image, "::"});
        QVERIFY(info.waitForFinished());
        const QString text = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(text.contains("FAT32") && text.contains("ROAD TRIP"), qPrintable(text));
        QCOMPARE(QProcess::execute("fsck.fat", {"-n", image}), 0);
    }
};

KIVO_TEST_MAIN(TestDrive)
#include "tst_drive.moc"
