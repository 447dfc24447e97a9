// The systems list: the first line names the system to read, the rest is the document.

#include "fuzzsupport.h"
#include "systeminfo.h"

#include <QBuffer>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const qsizetype newline = bytes.indexOf('\n');
    const QString name = QString::fromUtf8(newline < 0 ? QByteArray() : bytes.left(newline));
    QBuffer buffer;
    buffer.setData(newline < 0 ? bytes : bytes.mid(newline + 1));
    buffer.open(QIODevice::ReadOnly);
    SystemInfo info;
    QString error;
    readSystemInfo(&buffer, name, &info, &error);
    return 0;
}
