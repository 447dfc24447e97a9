#include "json.h"

#include <cmath>

namespace Json {

namespace {

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool startsWithAt(const QString &json, int index, QLatin1String word)
{
    return QStringView(json).mid(index, word.size()) == word;
}

}  // namespace

QVariant parse(const QString &json, bool &success)
{
    success = true;
    if (json.isNull())
        return QVariant();
    int index = 0;
    return parseValue(json, index, success);
}

void skipWhitespace(const QString &json, int &index)
{
    const int size = int(json.size());
    while (index < size) {
        const QChar c = json.at(index);
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n')
            && c != QLatin1Char('\r'))
            break;
        ++index;
    }
}

Token nextToken(const QString &json, int &index)
{
    skipWhitespace(json, index);
    const int size = int(json.size());
    if (index >= size)
        return None;
    const QChar c = json.at(index);
    ++index;
    switch (c.unicode()) {
    case '{':
        return ObjectOpen;
    case '}':
        return ObjectClose;
    case '[':
        return ArrayOpen;
    case ']':
        return ArrayClose;
    case ':':
        return Colon;
    case ',':
        return Comma;
    case '"':
        return String;
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        return Number;
    default:
        break;
    }
    --index;
    const int remaining = size - index;
    if (remaining < 4)
        return None;
    if (startsWithAt(json, index, QLatin1String("true"))) {
        index += 4;
        return True;
    }
    if (remaining > 4 && startsWithAt(json, index, QLatin1String("false"))) {
        index += 5;
        return False;
    }
    if (startsWithAt(json, index, QLatin1String("null"))) {
        index += 4;
        return Null;
    }
    return None;
}

Token lookAhead(const QString &json, int index)
{
    return nextToken(json, index);
}

QVariant parseValue(const QString &json, int &index, bool &success, int depth)
{
    switch (lookAhead(json, index)) {
    case ObjectOpen:
    case ArrayOpen:
        if (depth >= kMaxDepth) {
            success = false;
            return QVariant();
        }
        return lookAhead(json, index) == ObjectOpen ? parseObject(json, index, success, depth + 1)
                                                    : parseArray(json, index, success, depth + 1);
    case String:
        return parseString(json, index, success);
    case Number:
        return parseNumber(json, index, success);
    case True:
        nextToken(json, index);
        return QVariant(true);
    case False:
        nextToken(json, index);
        return QVariant(false);
    case Null:
        nextToken(json, index);
        return QVariant();
    case None:
    case ObjectClose:
    case ArrayClose:
    case Colon:
    case Comma:
        break;
    }
    success = false;
    return QVariant();
}

QVariant parseObject(const QString &json, int &index, bool &success, int depth)
{
    QVariantMap map;
    nextToken(json, index);  // the "{"
    for (;;) {
        const Token token = lookAhead(json, index);
        if (token == None) {
            success = false;
            return QVariantMap();
        }
        if (token == Comma) {
            nextToken(json, index);
            continue;
        }
        if (token == ObjectClose) {
            nextToken(json, index);
            return map;
        }
        const QVariant key = parseString(json, index, success);
        if (!success)
            return QVariantMap();
        if (nextToken(json, index) != Colon) {
            success = false;
            return QVariantMap();
        }
        const QVariant value = parseValue(json, index, success, depth);
        if (!success)
            return QVariantMap();
        map.insert(key.toString(), value);
    }
}

QVariant parseArray(const QString &json, int &index, bool &success, int depth)
{
    QVariantList list;
    nextToken(json, index);  // the "["
    for (;;) {
        const Token token = lookAhead(json, index);
        if (token == None) {
            success = false;
            return QVariantList();
        }
        if (token == Comma) {
            nextToken(json, index);
            continue;
        }
        if (token == ArrayClose) {
            nextToken(json, index);
            return list;
        }
        const QVariant value = parseValue(json, index, success, depth);
        if (!success)
            return QVariantList();
        list.append(value);
    }
}

QVariant parseString(const QString &json, int &index, bool &success)
{
    skipWhitespace(json, index);
    ++index;  // the opening quote, or whatever stands in its place
    QString text;
    const int size = int(json.size());
    while (index < size) {
        const QChar c = json.at(index++);
        if (c == QLatin1Char('"'))
            return text;
        if (c != QLatin1Char('\\')) {
            text.append(c);
            continue;
        }
        if (index >= size)
            break;
        const QChar escaped = json.at(index++);
        switch (escaped.unicode()) {
        case '"':
        case '\\':
        case '/':
            text.append(escaped);
            break;
        case 'b':
            text.append(QChar(0x08));
            break;
        case 'f':
            text.append(QChar(0x0c));
            break;
        case 'n':
            text.append(QChar(0x0a));
            break;
        case 'r':
            text.append(QChar(0x0d));
            break;
        case 't':
            text.append(QChar(0x09));
            break;
        case 'u': {
            if (size - index < 4) {
                success = false;
                return QVariant();
            }
            int code = 0;
            for (int i = 0; i < 4 && code >= 0; ++i) {
                const int digit = hexValue(json.at(index + i));
                code = digit < 0 ? -1 : code * 16 + digit;
            }
            text.append(QChar(ushort(qMax(0, code))));
            index += 4;
            break;
        }
        default:
            break;  // an unknown escape is dropped with its backslash
        }
    }
    success = false;
    return QVariant();
}

QVariant parseNumber(const QString &json, int &index)
{
    bool success = true;
    return parseNumber(json, index, success);
}

// An integer too large for 64 bits is kept as the double nearest to it; a text that reads as no
// number, or a double beyond range, fails: never a made-up 0.
QVariant parseNumber(const QString &json, int &index, bool &success)
{
    skipWhitespace(json, index);
    static const QString kNumberChars = QStringLiteral("0123456789+-.eE");
    const int start = index;
    const int size = int(json.size());
    while (index < size && kNumberChars.contains(json.at(index)))
        ++index;
    const QString run = json.mid(start, index - start);
    bool ok = false;
    const bool integral = !run.contains(QLatin1Char('.')) && !run.contains(QLatin1Char('e'))
        && !run.contains(QLatin1Char('E'));
    if (integral && run.startsWith(QLatin1Char('-'))) {
        const qlonglong value = run.toLongLong(&ok, 10);
        if (ok)
            return QVariant(value);
    } else if (integral) {
        const qulonglong value = run.toULongLong(&ok, 10);
        if (ok)
            return QVariant(value);
    }
    const double value = run.toDouble(&ok);
    if (ok && std::isfinite(value))
        return QVariant(value);
    success = false;
    return QVariant();
}

}  // namespace Json
