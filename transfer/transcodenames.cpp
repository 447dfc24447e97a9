#include "transcodenames.h"

#include "namefit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QUrl>

namespace {

const QString kRecordName = QStringLiteral(".sources");
// What the converters write: a name whose file is there under any of these is in use.
const char *const kSuffixes[] = {"mp3", "m4a", "aac", "wma", "ogg", "opus", "flac", "wav", "mp4"};

struct Records {
    QMutex mutex;
    QHash<QString, QHash<QString, QString>> byRoot;  // root -> "folder/name" -> source
    QSet<QString> givenNow;  // root + "/folder/name" given by this process
};

Records &records()
{
    static Records instance;
    return instance;
}

QHash<QString, QString> &owners(Records &all, const QString &root)
{
    const auto found = all.byRoot.find(root);
    if (found != all.byRoot.end())
        return *found;
    QHash<QString, QString> &loaded = all.byRoot[root];
    QFile file(root + QLatin1Char('/') + kRecordName);
    if (file.open(QIODevice::ReadOnly)) {
        // One "name<TAB>source" line per name given, both percent-encoded; the last line wins.
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().trimmed().split('\t');
            if (fields.size() == 2)
                loaded.insert(
                    QUrl::fromPercentEncoding(fields.at(0)), QUrl::fromPercentEncoding(fields.at(1)));
        }
    }
    return loaded;
}

bool anyFileFor(const QString &base)
{
    for (const char *suffix : kSuffixes) {
        if (QFileInfo::exists(base + QLatin1Char('.') + QLatin1String(suffix)))
            return true;
    }
    return false;
}

}  // namespace

QString TranscodeNames::claim(
    const QString &root, const QString &folder, const QString &title, const QString &source, QString *error)
{
    const QString owner = QFileInfo(source).absoluteFilePath();
    Records &all = records();
    QMutexLocker lock(&all.mutex);
    QHash<QString, QString> &given = owners(all, root);
    QString key;
    uniqueName(
        title, QString(), NameUnits::Utf8Bytes,
        [&](const QString &name) {
            key = folder + QLatin1Char('/') + name;
            const auto it = given.constFind(key);
            if (it != given.cend() && *it == owner)
                return true;
            // A name given to another source stays its own while its file is there or its
            // conversion may be running; a file no record names (made by hand, or by an older
            // version) is never taken either.
            const QString path = root + QLatin1Char('/') + key;
            return !(it != given.cend() && all.givenNow.contains(path)) && !anyFileFor(path);
        },
        kSuffixRoom);
    if (given.value(key) != owner) {
        // Unrecorded, the name would be taken at the next start for whoever the record last
        // named, and its file handed to them: it is not given at all.
        QDir().mkpath(root);
        QFile file(root + QLatin1Char('/') + kRecordName);
        const QByteArray line = QUrl::toPercentEncoding(key) + '\t' + QUrl::toPercentEncoding(owner) + '\n';
        if (!file.open(QIODevice::Append) || file.write(line) != line.size() || !file.flush()) {
            if (error)
                *error = QStringLiteral("the record of converted files cannot be written: ")
                    + file.errorString();
            // A cut line would spoil the next record's first field, so the line is ended.
            if (file.isOpen() && file.size() > 0)
                file.write("\n");
            return QString();
        }
        given.insert(key, owner);
    }
    all.givenNow.insert(root + QLatin1Char('/') + key);
    return root + QLatin1Char('/') + key;
}
