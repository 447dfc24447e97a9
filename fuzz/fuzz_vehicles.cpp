// The vehicles list.

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
    QBuffer buffer;
    buffer.setData(fuzzBytes(data, size));
    buffer.open(QIODevice::ReadOnly);
    QList<VehicleEntry> vehicles;
    QString error;
    readVehicleList(&buffer, &vehicles, &error);
    return 0;
}
