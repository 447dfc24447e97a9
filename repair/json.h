#pragma once

#include <QString>
#include <QVariant>

// A small, forgiving JSON reader for web service replies: objects become QVariantMap, arrays
// QVariantList, strings QString, numbers double (with a fraction or exponent, or an integer beyond
// 64 bits), qlonglong (with a leading "-") or qulonglong, true and false bool, null an invalid QVariant.
// Commas between members and elements are optional. Failure shows only as `success` false and empty
// containers at every level around the failure. Nesting deeper than kMaxDepth fails, so no reply can exhaust
// the stack. Pure functions, safe on any thread.
namespace Json {

enum Token {
    None = 0,
    ObjectOpen = 1,
    ObjectClose = 2,
    ArrayOpen = 3,
    ArrayClose = 4,
    Colon = 5,
    Comma = 6,
    String = 7,
    Number = 8,
    True = 9,
    False = 10,
    Null = 11,
};

// Objects and arrays nested deeper than this fail.
constexpr int kMaxDepth = 64;

// The first value of `json`; text after it is not looked at. A null text gives an invalid value
// with `success` true.
QVariant parse(const QString &json, bool &success);

// The steps, each reading `json` from `index` on and moving `index` past what it read.
void skipWhitespace(const QString &json, int &index);
// Consumes one token; for String and Number only their first character.
Token nextToken(const QString &json, int &index);
// The next token, nothing consumed.
Token lookAhead(const QString &json, int index);
// `depth` counts the objects and arrays around the value.
QVariant parseValue(const QString &json, int &index, bool &success, int depth = 0);
QVariant parseObject(const QString &json, int &index, bool &success, int depth = 0);
QVariant parseArray(const QString &json, int &index, bool &success, int depth = 0);
QVariant parseString(const QString &json, int &index, bool &success);
QVariant parseNumber(const QString &json, int &index);
// The same; a number out of every range or that does not read sets `success` false.
QVariant parseNumber(const QString &json, int &index, bool &success);

}  // namespace Json
