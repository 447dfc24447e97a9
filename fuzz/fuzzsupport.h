#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// The set-up every fuzz target shares. Parsers log freely; the messages are dropped so a run is
// not slowed by its own output, except fatal ones.

// Points the data and settings folders at a private temporary folder and silences the log.
// Call once, before any parser runs.
void fuzzInitEnvironment();
// A QCoreApplication (or QGuiApplication on the offscreen platform), made once per process.
void fuzzInitCoreApp();
void fuzzInitGuiApp();

// The private temporary folder of this process, removed when it ends.
QString fuzzTempDir();
// Writes the input to `name` in the temporary folder; the file's path.
QString fuzzWriteFile(const QString &name, const QByteArray &bytes);

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}
