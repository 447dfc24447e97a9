#include "textorder.h"

#include <QLocale>

namespace {

bool isAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

}  // namespace

QCollator nameCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

QString searchFolded(const QString &text)
{
    if (isAscii(text))
        return text.toCaseFolded();
    // Decomposed, an accented letter is its base letter followed by marks, which are dropped.
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            folded += c;
    }
    return folded.toCaseFolded();
}

bool containsFolded(const QString &text, const QString &folded)
{
    // Most names are plain ASCII; they need no copy.
    if (isAscii(text))
        return text.contains(folded, Qt::CaseInsensitive);
    return searchFolded(text).contains(folded);
}
