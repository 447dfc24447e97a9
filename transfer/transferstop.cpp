#include "transferstop.h"

namespace {
std::atomic<quint64> g_stops{0};
}

quint64 transferStopCount()
{
    return g_stops.load();
}

void raiseTransferStop()
{
    ++g_stops;
}
