#pragma once

#include <QCollator>

// Names in the order a person reads them, as the window lists them and as a car should play
// them: without regard to case, numbers by their value ("Album 2" before "Album 10").
QCollator naturalCollator();
