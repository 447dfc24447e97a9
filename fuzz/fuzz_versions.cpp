// Version comparison: the input is two versions on two lines. Splitting must lose nothing and the
// order must be consistent both ways round, or the update check could offer an older version.

#include "fuzzsupport.h"
#include "versioncomparator.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char *what, const QByteArray &a, const QByteArray &b)
{
    if (holds)
        return;
    std::fprintf(stderr, "version comparison broken (%s): %s vs %s (hex)\n", what, a.toHex().constData(),
        b.toHex().constData());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const qsizetype newline = bytes.indexOf('\n');
    const QByteArray a = newline < 0 ? bytes : bytes.left(newline);
    const QByteArray b = newline < 0 ? QByteArray() : bytes.mid(newline + 1);

    const int ab = VersionComparator::compare(a, b);
    const int ba = VersionComparator::compare(b, a);
    require(ab >= -1 && ab <= 1, "result out of range", a, b);
    require(ab == -ba, "not antisymmetric", a, b);
    require(VersionComparator::compare(a, a) == 0, "not reflexive", a, a);
    QByteArray joined;
    for (const QByteArray &part : VersionComparator::split(a)) {
        require(!part.isEmpty(), "empty part", a, b);
        VersionComparator::typeOfPart(part);
        joined += part;
    }
    require(joined == a, "split loses bytes", a, joined);
    return 0;
}
