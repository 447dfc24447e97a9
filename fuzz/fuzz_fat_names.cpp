// Names written to a FAT drive, from any text a tag or file name can hold. The result is never
// empty, holds none of the characters FAT refuses, does not end in a dot or a space, and fits
// FAT's 255 characters.

#include "drivenames.h"
#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(const QString &name, const char *maker, const QByteArray &input)
{
    bool sane = !name.isEmpty() && name.size() <= 255 && !name.endsWith(QLatin1Char('.'))
        && !name.endsWith(QLatin1Char(' ')) && name != QLatin1String("..");
    for (const QChar c : name)
        sane = sane && c.unicode() >= 0x20 && !QStringLiteral("\\/:*?\"<>|").contains(c);
    if (sane)
        return;
    std::fprintf(
        stderr, "%s made \"%s\" from (hex) %s\n", maker, qPrintable(name), input.toHex().constData());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const QString text = QString::fromUtf8(bytes);
    check(fatSafeName(text, QStringLiteral("Unknown")), "fatSafeName", bytes);
    check(driveFolderName(text), "driveFolderName", bytes);
    check(drivePlaylistName(text), "drivePlaylistName", bytes);
    check(drivePlaylistFileName(text), "drivePlaylistFileName", bytes);
    return 0;
}
