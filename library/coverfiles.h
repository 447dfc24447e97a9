#pragma once

#include <QString>

// Cover image helpers shared by the library store and track building.

// The quality cover PNGs are written with. For PNG, Qt turns the quality into a zlib level: 80
// gives level 1, which encodes a 110 px cover several times as fast as the default level for a
// file about a sixth larger, a few KB that neither the drive nor the car notices. (Level 0 is
// faster still but stores the pixels uncompressed, more than twice the size.)
constexpr int kCoverPngQuality = 80;

// The file's bytes as Base64 text; "" for a missing, unreadable or empty file.
QString fileToBase64(const QString &path);

// Writes the image held in `base64` at `path` when no file is there yet. Only paths inside the
// program's artwork folders are written, through a temporary name, and data that does not decode
// as an image leaves no file. Returns true when a new file was written.
bool saveCoverImage(const QString &path, const QString &base64);

// True when `path` lies inside the program's artwork folder (by absolute, cleaned path).
bool isInsideArtworkFolder(const QString &path);
