#include "drive.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>

#include <sys/sysmacros.h>

using platform::MountedVolume;

// The drive list, the format guard and the formatter, against a fake sysfs and mount table.
class TestDrive : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<MountedVolume> m_mounts;
    int m_reads = 0;
    QMap<QString, quint64> m_numbers;  // device node -> its device number
    QMap<QString, quint64> m_fileSystems;  // mount path -> number of the device really mounted
    int m_nextMinor = 0;

    QString sys() const { return m_dir.filePath("sys"); }

    QString mountPoint(const QString &name) const
    {
        const QString path = m_dir.filePath("media/" + name);
        QDir().mkpath(path);
        return path;
    }

    // A block device in the fake sysfs, found under `bus`; a partition lies in its disk's folder.
    void addDevice(const QString &bus, const QString &disk, const QString &partition)
    {
        const QString folder = QString("%1/devices/%2/block/%3").arg(sys(), bus, disk);
        if (!m_numbers.contains("/dev/" + disk))
            addNode(folder, disk);
        addNode(folder + "/" + partition, partition);
        QFile(folder + "/" + partition + "/partition").open(QIODevice::WriteOnly);
    }

    // A device-mapper volume over `below`, as LVM or LUKS make it.
    void addMapped(const QString &name, const QStringList &below)
    {
        const QString folder = sys() + "/devices/virtual/block/" + name;
        addNode(folder, name);
        QDir().mkpath(folder + "/slaves");
        for (const QString &slave : below)
            QFile::link(
                QFileInfo(sys() + "/class/block/" + slave).canonicalFilePath(), folder + "/slaves/" + slave);
    }

    void addNode(const QString &folder, const QString &name)
    {
        QDir().mkpath(folder);
        QDir().mkpath(sys() + "/class/block");
        QDir().mkpath(sys() + "/dev/block");
        QFile::link(folder, sys() + "/class/block/" + name);
        const quint64 number = makedev(8, quint32(++m_nextMinor));
        QFile::link(folder, QString("%1/dev/block/8:%2").arg(sys()).arg(m_nextMinor));
        m_numbers.insert("/dev/" + name, number);
    }

    // What stat(2) would say: device nodes by their numbers, other paths by the file system
    // mounted at the longest mount path above them.
    std::optional<platform::FileIdentity> identity(const QString &path) const
    {
        if (m_numbers.contains(path))
            return platform::FileIdentity{1, m_numbers.value(path), true};
        QString best;
        for (auto it = m_fileSystems.begin(); it != m_fileSystems.end(); ++it) {
            const bool holds = it.key() == "/" || path == it.key() || path.startsWith(it.key() + "/");
            if (holds && it.key().size() > best.size())
                best = it.key();
        }
        if (best.isEmpty())
            return std::nullopt;
        return platform::FileIdentity{m_fileSystems.value(best), 0, false};
    }

    MountedVolume &mount(
        const QString &root, const QString &device, qint64 total = 16000000000, qint64 free = 4000000000)
    {
        m_mounts.append({root, device, "vfat", QFileInfo(root).fileName(), total, free, false});
        if (m_numbers.contains(device))
            m_fileSystems.insert(root, m_numbers.value(device));
        return m_mounts.last();
    }

    platform::VolumeProvider provider()
    {
        return platform::VolumeProvider(
            sys(),
            [this] {
                ++m_reads;
                return m_mounts;
            },
            [this](const QString &path) { return identity(path); });
    }

    static void poll(Drive &drive)
    {
        QSignalSpy read(&drive, &Drive::drivesRead);
        drive.GetDriveDetail();
        QVERIFY(read.wait(10000));
    }

    // Asks for a format of `target` and waits until the job has answered.
    static void formatAndWait(Drive &drive, const QString &target)
    {
        QSignalSpy hidden(&drive, &Drive::sgHideFormatWait);
        drive.ContinueDrive(target, 1, 0, 0, 0);
        QVERIFY(hidden.wait(10000));
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
        m_fileSystems.clear();
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
        QCOMPARE(p.disksHolding(mountPoint("STICK") + "/Music/not yet"), QStringList{"sdb"});
        QCOMPARE(p.disksOf(m_numbers.value("/dev/mmcblk0p1")), QStringList{"mmcblk0"});
        QCOMPARE(p.disksOf(makedev(0, 31)), QStringList());
        QVERIFY(p.isMountedFrom("/dev/sdb1", mountPoint("STICK")));
        QVERIFY(!p.isMountedFrom("/dev/sdc1", mountPoint("STICK")));
        QCOMPARE(p.volumeHolding(mountPoint("STICK") + "/Music").device, QString("/dev/sdb1"));
        QCOMPARE(p.volumeHolding(m_dir.filePath("elsewhere")).device, QString("/dev/vda1"));
    }

    // Sizes, unstable readings, a large card, a chosen folder, and two sticks pulled at once.
    void poll()
    {
        Drive drive;
        drive.setVolumeProvider(provider());
        poll(drive);
        QCOMPARE(drive.driveList(), QStringList{"No Drive"});
        QVERIFY(drive.drivedetails().isEmpty());

        const QString stick = mountPoint("STICK"), card = mountPoint("CARD"), folder = m_dir.filePath("out");
        mount(stick, "/dev/sdb1");
        mount(card, "/dev/mmcblk0p1", 600LL << 30, 100LL << 30);
        poll(drive);
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
        poll(drive);
        QCOMPARE(drive.driveList().size(), 2);
        drive.setVolumeProvider(provider());

        QDir().mkpath(folder);
        drive.folderChooser = [folder] { return folder; };
        drive.openDialog();
        poll(drive);
        QCOMPARE(drive.driveList(), QStringList({stick, card, settling, folder}));
        auto *chosen = static_cast<DriveData *>(drive.drivedetails().last());
        QCOMPARE(chosen->isSystem(), 1);
        QCOMPARE(chosen->freespace1(), 0);
        QVERIFY(chosen->totalspace().isEmpty());

        m_mounts.removeAt(2);
        m_mounts.removeAt(2);
        poll(drive);
        QCOMPARE(drive.driveList(), QStringList({settling, folder}));
        QCOMPARE(drive.drivedetails().size(), 2);

        drive.timerexe(1);
        drive.timerexe(1);
        QVERIFY(drive.isPolling());
        QVERIFY(drive.driveList().isEmpty());
        drive.timerexe(0);
        QVERIFY(!drive.isPolling());

        // The folder chosen last is offered again when the dialog opens anew, while it is there.
        drive.folderChooser = [] { return QString(); };
        drive.timerexe(1);
        poll(drive);
        QCOMPARE(drive.driveList().value(drive.driveList().size() - 1), folder);
        drive.timerexe(0);
        QVERIFY(QDir(folder).removeRecursively());
        drive.timerexe(1);
        poll(drive);
        QVERIFY(!drive.driveList().contains(folder));
        drive.timerexe(0);
    }

    // Only a listed stick or card, off the disks of the system and the data folder, is formatted;
    // a disk that cannot be told refuses; a failed format is told and transfers nothing.
    void formatGuard()
    {
        const QString stick = mountPoint("STICK"), boot = mountPoint("BOOT"), folder = m_dir.filePath("out");
        const QString other = mountPoint("OTHER");
        QDir().mkpath(folder);
        addDevice("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0/8:0:0:0", "sdd", "sdd2");
        addMapped("dm-0", {"sdd2"});
        mount(stick, "/dev/sdb1");
        // The system runs from a USB disk, sdd.
        m_mounts.first().device = "/dev/sdd2";
        m_fileSystems.insert("/", m_numbers.value("/dev/sdd2"));
        mount(boot, "/dev/sdd1");
        // A mount whose text names another stick, while the boot partition is what is mounted.
        mount(other, "/dev/sdc1");
        m_fileSystems.insert(other, m_numbers.value("/dev/sdd1"));
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
        poll(drive);
        // "/" itself is listed too: the system's disk is a USB one.
        QCOMPARE(drive.driveList(), QStringList({"/", stick, boot, other, folder}));
        QSignalSpy messages(&drive, &Drive::showMessageBox);
        QSignalSpy ended(&drive, &Drive::sgTransferEnded);
        const auto refuses = [&](const QString &target, const QString &why) {
            messages.clear();
            formatAndWait(drive, target);
            QCOMPARE(messages.size(), 1);
            const QString text = messages.first().first().toString();
            QVERIFY2(text.startsWith(DriveMessages().formatRefused) && text.contains(why), qPrintable(text));
            QVERIFY(commands.isEmpty());
        };

        refuses(boot, "lies on the disk that holds /");
        refuses(m_dir.filePath("media"), "not a listed drive");
        refuses(other, "cannot be told");
        // "/" listed as /dev/root, or on a device-mapper volume: its device number still tells.
        m_mounts.first().device = "/dev/root";
        refuses(boot, "lies on the disk that holds /");
        m_mounts.first().device = "/dev/mapper/system-root";
        m_fileSystems.insert("/", m_numbers.value("/dev/dm-0"));
        refuses(boot, "lies on the disk that holds /");
        // A system disk that cannot be told at all might be any of them.
        m_fileSystems.insert("/", makedev(0, 31));
        refuses(stick, "The disk that holds / cannot be told");
        m_fileSystems.insert("/", m_numbers.value("/dev/vda1"));

        QSignalSpy progress(&drive, &Drive::sgUpdateTransferProgress);
        drive.ContinueDrive(folder, 1, 0, 0, 0);
        QVERIFY(ended.wait(10000));
        QVERIFY(commands.isEmpty());
        // The window says the files are being written out until the end message.
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(2).toString(), DriveMessages().writingToDrive);

        // Urizen's system keeps its media on FAT16.
        QVERIFY(loadSystemInfo("Urizen"));
        mkfsExit = 1;
        formatAndWait(drive, stick);
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
        QVERIFY(info.waitForFinished(-1));
        const QString text = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(text.contains("FAT32") && text.contains("ROAD TRIP"), qPrintable(text));
        QCOMPARE(QProcess::execute("fsck.fat", {"-n", image}), 0);
    }
};

KIVO_TEST_MAIN(TestDrive)
#include "tst_drive.moc"
