#pragma once

#include "apppaths.h"

#include <QDateTime>
#include <QHash>
#include <QString>

// Finds an album's cover in the artwork cache ("<data>/Corvane-Media-Rarazarur/Artwork"), where
// covers are named by the album's cleaned name. Album names are compared without case: the file
// system is case-sensitive, but "northern fields" and "Northern Fields" are one album.
class ArtworkIndex
{
public:
    // Where the album's cover is written: the cleaned name as given, ".png"; "" when the cleaned
    // name is empty, so no two nameless albums ever share a file.
    QString pathFor(const QString &album) const;
    // The cached cover of the album, or "" when there is none.
    QString find(const QString &album);

private:
    void refresh(const QString &folder);

    AppPaths m_paths;
    // Case-folded file name to the file's real name; read again whenever the folder changes.
    QHash<QString, QString> m_names;
    QDateTime m_stamp;
    bool m_loaded = false;
};
