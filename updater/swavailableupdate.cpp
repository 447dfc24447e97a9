#include "swavailableupdate.h"

SwAvailableUpdate::SwAvailableUpdate(QObject *parent)
    : QObject(parent)
{ }
