#pragma once

#include <QCollator>
#include <QString>

// How the window orders and finds names: without regard to case, numbers in natural order
// ("Artist 2" before "Artist 10"), and searches that ignore accents ("ros" finds "Rós").

// A collator for names. Under the C locale Qt compares code points and ignores case and numeric
// settings, so a neutral language stands in for it.
QCollator nameCollator();

// `text` without accents and case, as searches compare it.
QString searchFolded(const QString &text);

// Whether `text` holds `folded` (a searchFolded needle), accents and case aside.
bool containsFolded(const QString &text, const QString &folded);
