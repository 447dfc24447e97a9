// AcoustID look-up replies (XML), with the cover service's address as the program builds it.

#include "acoustidreply.h"
#include "fuzzsupport.h"

#include <QUrl>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QUrl covers(QStringLiteral("http://127.0.0.1:8080/covers"));
    AcoustIdReply::parse(fuzzBytes(data, size), covers);
    return 0;
}
