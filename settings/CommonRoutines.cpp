#include "CommonRoutines.h"
#include "Fso.h"
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

qint32 SplitFields(TextArray& fields, bool countOnly, const QString& text, const QString& separators)
{
    qsizetype upper = 0;
    if (!countOnly) {
        upper = fields.empty() ? 0 : qsizetype(fields.size()) - 1;
        for (qsizetype i = 1; i <= upper; ++i)
            fields[i].clear();
    }
    qint32 count = 0;
    qsizetype start = 0;
    const qsizetype len = text.size();
    for (qsizetype pos = 0; pos <= len; ++pos) {
        const bool atSeparator = pos == len || separators.contains(text[pos]);
        if (!atSeparator)
            continue;
        ++count;
        if (!countOnly && count <= upper)
            fields[count] = text.mid(start, pos - start);
        start = pos + 1;
        if (upper > 0 && count >= upper)
            break;
    }
    return count;
}

QString TrimBlanks(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == u' ')
        ++b;
    while (e > b && text[e - 1] == u' ')
        --e;
    return text.mid(b, e - b);
}

void ParseKeyValue(QString& key, QString& value, const QString& line)
{
    const qsizetype colon = line.indexOf(u':');
    if (colon < 0) {
        key.clear();
        value.clear();
        return;
    }
    key = TrimBlanks(line.left(colon)).toUpper();
    value = TrimBlanks(line.mid(colon + 1));
}

namespace {

// Reads the leading number the tolerant way; false when there is none or it overflows.
bool ReadLeadingNumber(const QString& text, double& result)
{
    std::string s;
    s.reserve(size_t(text.size()));
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        s.push_back(c.unicode() < 128 ? char(c.unicode()) : '\x7f');
    }
    result = 0;
    size_t i = 0;
    if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
        const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
        double v = 0;
        for (i = 2; i < s.size(); ++i) {
            const char c = s[i];
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0 || d >= base)
                break;
            v = v * base + d;
        }
        result = v;
        return std::isfinite(v);
    }
    // Decimal: sign, digits, ".", digits, exponent with at least one digit.
    std::string num;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        num.push_back(s[i++]);
    bool anyDigit = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        num.push_back(s[i++]);
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        num.push_back(s[i++]);
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            num.push_back(s[i++]);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return true;  // no number: 0
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        size_t j = i + 1;
        std::string exp = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exp.push_back(s[j++]);
        const size_t digitsFrom = j;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            exp.push_back(s[j++]);
        if (j > digitsFrom)
            num += exp;
    }
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(num.c_str(), &end);
    if (errno == ERANGE && !std::isfinite(v))
        return false;
    if (!std::isfinite(v))
        return false;
    result = v;
    return true;
}

}  // namespace

double ValDouble(const QString& text)
{
    double v = 0;
    return ReadLeadingNumber(text, v) ? v : 0.0;
}

qint32 ValLong(const QString& text)
{
    double v = 0;
    if (!ReadLeadingNumber(text, v))
        return 0;
    const double r = std::nearbyint(v);  // default rounding: ties to even
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        return 0;
    return qint32(r);
}

void SplitFileList(QString& folder, TextArray& names, const QString& dialogResult)
{
    folder.clear();
    const QString nul(QChar(0));
    TextArray work;
    const qint32 count = SplitFields(work, true, dialogResult, nul);
    work.assign(size_t(count) + 1, QString());
    SplitFields(work, false, dialogResult, nul);
    qint32 first = 1;
    if (count == 1) {
        folder = GetParentFolderName(work[1]);
        work[1] = GetFileName(work[1]);
    } else {
        folder = work[1];
        first = 2;
    }
    names.assign(1, QString());
    for (qint32 i = first; i <= count; ++i)
        names.push_back(work[i]);
}

QString BoolToText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

void ReplaceChar(QString& text, const QString& find, const QString& replacement)
{
    if (find.size() != 1)
        return;
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == find[0])
            out += replacement;
        else
            out += c;
    }
    text = out;
}

double DateNumber(qint32 year, qint32 month, qint32 day, qint32 hour, qint32 minute, qint32 second)
{
    double d = double(minute) * 100.0;
    d += double(second);
    d += double(hour) * 1e4;
    d += double(day) * 1e6;
    d += double(month) * 1e8;
    d += double(year) * 1e10;
    return d;
}

double DateToNumber(const QDateTime& localDateTime)
{
    const QDate d = localDateTime.date();
    const QTime t = localDateTime.time();
    return DateNumber(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

QDateTime NumberToDate(double dateNumber)
{
    if (!(dateNumber >= 0 && dateNumber < 1e14))
        return {};
    auto n = qint64(std::llround(dateNumber));
    const auto take = [&n](qint64 unit) {
        const int part = int(n % unit);
        n /= unit;
        return part;
    };
    const int second = take(100), minute = take(100), hour = take(100), day = take(100), month = take(100);
    const QDate date(int(n), month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

QString DoubleToText(double value)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, res.ptr - buf);
}
