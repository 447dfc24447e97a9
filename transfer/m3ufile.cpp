#include "m3ufile.h"

#include "filecopy.h"
#include "removal.h"

#include <QFile>
#include <QFileInfo>

M3uFile::M3uFile(const QString &path)
    : m_path(path)
    , m_text("#EXTM3U:\r\n")
{ }

void M3uFile::appendM3uEntry(const QString &pathLine)
{
    m_text += "#EXTINF:\r\n" + pathLine.toUtf8() + "\r\n";
    ++m_entries;
}

bool M3uFile::write(QString *error) const
{
    const QString temporary
        = platform::temporaryPath(QFileInfo(m_path).absolutePath(), QStringLiteral("part"));
    QFile file(temporary);
    bool written = file.open(QIODevice::WriteOnly) && file.write(m_text) == m_text.size() && file.flush();
    QString reason = file.errorString();
    // On the device before it takes the old file's name: a stick pulled meanwhile never holds a
    // playlist renamed into place whose text never arrived.
    if (written) {
        const platform::CopyOutcome flushed = platform::flushFile(file.handle());
        written = flushed.ok();
        reason = flushed.message;
    }
    file.close();
    if (written) {
        const platform::CopyOutcome placed = platform::replaceFile(temporary, m_path);
        written = placed.ok();
        reason = placed.message;
    }
    if (!written) {
        platform::removeFile(temporary);
        if (error)
            *error = reason;
    }
    return written;
}
