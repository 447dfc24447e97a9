#include "naturalorder.h"

#include <QLocale>

QCollator naturalCollator()
{
    // Under the C locale Qt compares code points and drops the numeric setting, so a neutral
    // language stands in for it.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}
