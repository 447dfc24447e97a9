#include "m3ufile.h"

#include <QFile>

namespace {

bool writeLines(const QString &path, QIODevice::OpenMode mode, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

bool createM3uFile(const QString &path)
{
    return writeLines(path, QIODevice::WriteOnly | QIODevice::Truncate, "#EXTM3U:\r\n");
}

bool appendM3uEntry(const QStringList &entry)
{
    if (entry.size() < 2)
        return false;
    return writeLines(entry.at(0), QIODevice::WriteOnly | QIODevice::Append,
        "#EXTINF:\r\n" + entry.at(1).toUtf8() + "\r\n");
}
