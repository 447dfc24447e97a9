#include "formatter.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <unistd.h>

namespace platform {

namespace {

CommandResult runProcess(const QString &program, const QStringList &arguments)
{
    CommandResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(10000)) {
        result.output = process.errorString();
        return result;
    }
    result.started = true;
    // A large card takes a while to format; a tool that hangs must not hold the window for ever.
    if (!process.waitForFinished(10 * 60 * 1000)) {
        process.kill();
        process.waitForFinished(2000);
        result.output = QStringLiteral("did not finish in time");
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll()).trimmed();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// FAT labels: at most 11 characters, upper case, no punctuation FAT refuses.
QString fatLabel(const QString &label)
{
    QString clean;
    for (const QChar c : label.toUpper()) {
        if (c.unicode() < 128
            && (c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('_')
                || c == QLatin1Char('-')))
            clean += c;
    }
    return clean.trimmed().left(11);
}

}  // namespace

FileSystemKind fileSystemFor(const QString &filingSystem)
{
    if (filingSystem == QLatin1String("MS-DOS FAT32"))
        return FileSystemKind::Fat32;
    if (filingSystem == QLatin1String("MS-DOS FAT16"))
        return FileSystemKind::Fat16;
    return FileSystemKind::Ntfs;
}

Formatter::Formatter(Runner runner)
    : m_runner(std::move(runner))
{ }

CommandResult Formatter::run(const QString &program, const QStringList &arguments) const
{
    return m_runner ? m_runner(program, arguments) : runProcess(program, arguments);
}

QPair<QString, QStringList> Formatter::mkfsCommand(
    const QString &device, FileSystemKind kind, const QString &label)
{
    if (kind == FileSystemKind::Ntfs) {
        QStringList arguments = {QStringLiteral("-Q")};
        if (!label.trimmed().isEmpty())
            arguments << QStringLiteral("-L") << label.trimmed().left(32);
        return {QStringLiteral("mkfs.ntfs"), arguments << device};
    }
    QStringList arguments
        = {QStringLiteral("-F"), kind == FileSystemKind::Fat32 ? QStringLiteral("32") : QStringLiteral("16")};
    const QString fat = fatLabel(label);
    if (!fat.isEmpty())
        arguments << QStringLiteral("-n") << fat;
    return {QStringLiteral("mkfs.vfat"), arguments << device};
}

FormatResult Formatter::format(
    const QString &device, const QString &mountPath, FileSystemKind kind, const QString &label) const
{
    FormatResult result;
    const auto failed = [&result](const QString &step, const CommandResult &r) {
        result.error = r.started
            ? QStringLiteral("%1 failed (%2): %3").arg(step).arg(r.exitCode).arg(r.output)
            : QStringLiteral("%1 could not be started: %2").arg(step, r.output);
        return result;
    };
    const bool root = ::geteuid() == 0;
    const bool udisks = !root && !QStandardPaths::findExecutable(QStringLiteral("udisksctl")).isEmpty();
    if (!mountPath.isEmpty() && !root && !udisks) {
        result.error = QStringLiteral("formatting a drive needs administrator rights or udisksctl");
        return result;
    }

    if (!mountPath.isEmpty()) {
        const CommandResult r = root
            ? run(QStringLiteral("umount"), {mountPath})
            : run(QStringLiteral("udisksctl"), {QStringLiteral("unmount"), QStringLiteral("-b"), device});
        if (r.exitCode != 0)
            return failed(QStringLiteral("Unmounting"), r);
    }
    const auto mkfs = mkfsCommand(device, kind, label);
    const CommandResult made = run(mkfs.first, mkfs.second);
    if (made.exitCode != 0)
        result = failed(QStringLiteral("Formatting"), made);
    if (mountPath.isEmpty()) {
        result.ok = made.exitCode == 0;
        return result;
    }

    // Mounted again even after a failed mkfs, so the drive is not left unmounted.
    QString mountedAt = mountPath;
    CommandResult mounted;
    if (root) {
        QDir().mkpath(mountPath);
        mounted = run(QStringLiteral("mount"), {device, mountPath});
    } else {
        mounted = run(QStringLiteral("udisksctl"), {QStringLiteral("mount"), QStringLiteral("-b"), device});
        static const QRegularExpression at(QStringLiteral(" at (.+?)\\.?$"));
        const QRegularExpressionMatch match = at.match(mounted.output);
        if (match.hasMatch())
            mountedAt = match.captured(1);
    }
    if (made.exitCode != 0)
        return result;
    if (mounted.exitCode != 0)
        return failed(QStringLiteral("Mounting"), mounted);
    result.ok = true;
    result.mountPath = mountedAt;
    return result;
}

}  // namespace platform
