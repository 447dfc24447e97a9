#pragma once

#include <QString>

// Cover image helpers shared by the library store and track building.

// The file's bytes as Base64 text; "" for a missing, unreadable or empty file.
QString fileToBase64(const QString &path);

// Writes the image held in `base64` at `path` when no file is there yet. Only paths inside the
// program's artwork folders are written, through a temporary name, and data that does not decode
// as an image leaves no file. Returns true when a new file was written.
bool saveCoverImage(const QString &path, const QString &base64);

// True when `path` lies inside the program's artwork folder (by absolute, cleaned path).
bool isInsideArtworkFolder(const QString &path);
