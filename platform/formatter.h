#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Making a new file system on a removable volume: unmount, mkfs, mount again, each an argument
// list whose exit status is checked. Which volume may be formatted is decided by the caller.
namespace platform {

enum class FileSystemKind { Fat32, Fat16, Ntfs };

// "MS-DOS FAT32" and "MS-DOS FAT16" by name; anything else is NTFS.
FileSystemKind fileSystemFor(const QString &filingSystem);

struct CommandResult {
    bool started = false;
    int exitCode = -1;
    QString output;  // standard output and error together
};

struct FormatResult {
    bool ok = false;
    QString error;  // which step failed and what it said
    QString mountPath;  // where the volume is mounted afterwards
};

class Formatter
{
public:
    using Runner = std::function<CommandResult(const QString &program, const QStringList &arguments)>;

    // Runs the commands through `runner`; real processes when empty.
    explicit Formatter(Runner runner = {});

    // Formats `device` with `kind`, keeping `label` where the file system allows it. With a
    // `mountPath` the volume is unmounted first and mounted again afterwards (as root with
    // mount(8), else through udisksctl); without one the device (or image file) is only formatted.
    FormatResult format(const QString &device, const QString &mountPath, FileSystemKind kind,
        const QString &label = {}) const;

    // The mkfs program and its arguments.
    static QPair<QString, QStringList> mkfsCommand(
        const QString &device, FileSystemKind kind, const QString &label);

private:
    CommandResult run(const QString &program, const QStringList &arguments) const;

    Runner m_runner;
};

}  // namespace platform
