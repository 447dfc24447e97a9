#pragma once

#include <QByteArray>
#include <QString>

// Stores a cover image downloaded from a web service at `path`, which must lie inside the
// artwork folder. The bytes are decoded first, so a reply that is no image (an error page, a
// truncated download) leaves no file; the picture is fit into 110 x 110 like every cached cover,
// written as PNG under a temporary name beside the target and moved over it in one step, so the
// cover never exists half-written. True when the cover is stored; `error` says why not.
bool storeDownloadedCover(const QByteArray &bytes, const QString &path, QString *error = nullptr);
