#include "coverstore.h"

#include "coverfiles.h"
#include "filecopy.h"
#include "taglibbuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool failWith(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return false;
}

}  // namespace

bool storeDownloadedCover(const QByteArray &bytes, const QString &path, QString *error)
{
    if (path.isEmpty() || !isInsideArtworkFolder(path))
        return failWith(error, QStringLiteral("not a path in the artwork folder: ") + path);
    const TagLibBuilder::Cover cover = TagLibBuilder::makeCover(bytes);
    if (!cover.decoded || cover.png.isEmpty())
        return failWith(error, QStringLiteral("the download is not an image"));

    const QString folder = QFileInfo(path).absolutePath();
    const platform::CopyOutcome made = platform::makeFolders(folder);
    if (!made.ok())
        return failWith(error, made.message);
    const QString temporary = platform::temporaryPath(folder, QStringLiteral("png"));
    QFile out(temporary);
    if (!out.open(QIODevice::WriteOnly) || out.write(cover.png) != cover.png.size() || !out.flush()) {
        out.close();
        QFile::remove(temporary);
        return failWith(error, QStringLiteral("cannot write ") + temporary);
    }
    out.close();
    const platform::CopyOutcome replaced = platform::replaceFile(temporary, path);
    if (!replaced.ok()) {
        QFile::remove(temporary);
        return failWith(error, replaced.message);
    }
    return true;
}
