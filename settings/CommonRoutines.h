#pragma once
#include <QDateTime>
#include <QString>
#include <vector>

// Text arrays here use entry 0 as unused; fields and names start at entry 1.
using TextArray = std::vector<QString>;

// Splits text at any character of separators. In filling mode entries 1 to the
// array's upper bound are cleared and filled; stops once that many are found.
qint32 SplitFields(TextArray& fields, bool countOnly, const QString& text, const QString& separators);

// Splits "key: value" at the first colon; key trimmed and upper-cased, value trimmed.
void ParseKeyValue(QString& key, QString& value, const QString& line);

// Tolerant number reading: never fails, gives 0 for anything it cannot read.
double ValDouble(const QString& text);
qint32 ValLong(const QString& text);

// Splits an open-dialog result (one full path, or folder NUL name NUL name ...).
void SplitFileList(QString& folder, TextArray& names, const QString& dialogResult);

QString BoolToText(bool value);

void ReplaceChar(QString& text, const QString& find, const QString& replacement);

double DateNumber(qint32 year, qint32 month, qint32 day, qint32 hour, qint32 minute, qint32 second);
double DateToNumber(const QDateTime& localDateTime);
// The local date-time of a date number; invalid when it names none.
QDateTime NumberToDate(double dateNumber);

// Shortest decimal text of a double that reads back to the same value.
QString DoubleToText(double value);

// Removes the space character (only) at both ends.
QString TrimBlanks(const QString& text);
