#include "vexo-core/IniEscaping.h"

#include <QDataStream>
#include <QVariant>

namespace vexo {
namespace core {
namespace ini {

namespace {

const char hexDigits[] = "0123456789ABCDEF";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

// Keys are stored as earlier versions stored them through QSettings: '/' and '\\' would be
// group separators there and '%' is the escape, so those three are percent-encoded first,
// and the empty key, which QSettings refuses, is a lone "%". QSettings then escaped every
// character outside [A-Za-z0-9_.-] as %XX or %UXXXX; the file holds that second form.
QString settingsKey(const std::string& key)
{
    if (key.empty())
        return QStringLiteral("%");
    QString encoded;
    for (const QChar c : QString::fromStdString(key)) {
        if (c == QLatin1Char('%'))
            encoded += QLatin1String("%25");
        else if (c == QLatin1Char('/'))
            encoded += QLatin1String("%2F");
        else if (c == QLatin1Char('\\'))
            encoded += QLatin1String("%5C");
        else
            encoded += c;
    }
    return encoded;
}

QByteArray escapedKey(const QString& key)
{
    QByteArray result;
    for (const QChar qc : key) {
        uint ch = qc.unicode();
        if (ch == '/') {
            result += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_'
                   || ch == '-' || ch == '.') {
            result += char(ch);
        } else if (ch <= 0xFF) {
            result += '%';
            result += hexDigits[ch / 16];
            result += hexDigits[ch % 16];
        } else {
            result += "%U";
            char code[4];
            for (int i = 3; i >= 0; --i, ch >>= 4)
                code[i] = hexDigits[ch % 16];
            result += QByteArray(code, 4);
        }
    }
    return result;
}

// '\\' is '/', %XX and %UXXXX are characters, anything else is UTF-8 text; a '%' that
// starts no escape stays.
QString unescapedKey(const QByteArray& data, int from, int to)
{
    QString result;
    int i = from;
    while (i < to) {
        const char ch = data.at(i);
        if (ch == '\\') {
            result += QLatin1Char('/');
            ++i;
            continue;
        }
        if (ch == '%' && i + 1 < to) {
            const bool wide = data.at(i + 1) == 'U';
            const int first = i + 1 + (wide ? 1 : 0);
            const int digits = wide ? 4 : 2;
            int code = 0;
            bool ok = first + digits <= to;
            for (int d = 0; ok && d < digits; ++d) {
                const int v = hexValue(data.at(first + d));
                ok = v >= 0;
                code = code * 16 + v;
            }
            if (ok) {
                result += QChar(ushort(code));
                i = first + digits;
                continue;
            }
        }
        int j = i + 1;
        while (j < to && data.at(j) != '%' && data.at(j) != '\\')
            ++j;
        result += QString::fromUtf8(data.constData() + i, j - i);
        i = j;
    }
    return result;
}

// Value text as QSettings writes it: C escapes for control characters, quotes, and
// backslashes; UTF-8 for the rest; in double quotes when it holds a list or comment
// separator or starts or ends with a space. A \x escape is followed by the next character
// escaped too when that is a hex digit, since readers take all the digits that follow.
QByteArray escapedValue(const QString& value)
{
    QByteArray result;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    QString plain; // characters not yet encoded
    auto flush = [&] {
        result += plain.toUtf8();
        plain.clear();
    };
    for (const QChar qc : value) {
        const uint ch = qc.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (escapeNextIfDigit && hexValue(char(ch)) >= 0 && ch < 0x80) {
            flush();
            result += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeNextIfDigit = false;
        const char* escape = nullptr;
        switch (ch) {
        case '\0':
            escape = "\\0";
            escapeNextIfDigit = true;
            break;
        case '\a':
            escape = "\\a";
            break;
        case '\b':
            escape = "\\b";
            break;
        case '\f':
            escape = "\\f";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\t':
            escape = "\\t";
            break;
        case '\v':
            escape = "\\v";
            break;
        case '"':
            escape = "\\\"";
            break;
        case '\\':
            escape = "\\\\";
            break;
        default:
            break;
        }
        if (escape) {
            flush();
            result += escape;
        } else if (ch <= 0x1F) {
            flush();
            result += "\\x" + QByteArray::number(ch, 16);
            escapeNextIfDigit = true;
        } else {
            plain += qc;
        }
    }
    flush();
    if (needsQuotes || (!result.isEmpty() && (result.startsWith(' ') || result.endsWith(' '))))
        result = '"' + result + '"';
    return result;
}

// Reads a value as QSettings does: quotes group, backslash escapes, unquoted commas
// separate list items, spaces around unquoted items are dropped.
QStringList unescapedValue(const QByteArray& data, int from, int to, bool* isList)
{
    QStringList items;
    QString current;
    bool inQuotes = false;
    bool currentQuoted = false;
    int chopLimit = 0;
    *isList = false;
    int i = from;
    auto skipSpaces = [&] {
        while (i < to && (data.at(i) == ' ' || data.at(i) == '\t'))
            ++i;
        chopLimit = current.size();
    };
    auto chopTrailingSpaces = [&] {
        int n = current.size();
        while (n > chopLimit && (current.at(n - 1) == QLatin1Char(' ') || current.at(n - 1) == QLatin1Char('\t')))
            --n;
        current.truncate(n);
    };
    skipSpaces();
    while (i < to) {
        const char ch = data.at(i);
        if (ch == '\\') {
            if (++i >= to)
                break;
            const char e = data.at(i++);
            static const char simple[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                             {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                             {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            bool done = false;
            for (const auto& s : simple) {
                if (e == s[0]) {
                    current += QLatin1Char(s[1]);
                    done = true;
                    break;
                }
            }
            if (!done && (e == 'x' || (e >= '0' && e <= '7'))) {
                const int base = e == 'x' ? 16 : 8;
                int code = e == 'x' ? 0 : e - '0';
                while (i < to) {
                    const int v = hexValue(data.at(i));
                    if (v < 0 || v >= base)
                        break;
                    code = code * base + v;
                    ++i;
                }
                current += QChar(ushort(code));
            } else if (!done && (e == '\n' || e == '\r')) {
                // A continued line.
                if (i < to && (data.at(i) == '\n' || data.at(i) == '\r') && data.at(i) != e)
                    ++i;
            }
            chopLimit = current.size();
        } else if (ch == '"') {
            ++i;
            currentQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces();
        } else if (ch == ',' && !inQuotes) {
            if (!currentQuoted)
                chopTrailingSpaces();
            *isList = true;
            items << current;
            current.clear();
            currentQuoted = false;
            ++i;
            skipSpaces();
        } else {
            int j = i + 1;
            while (j < to && data.at(j) != '\\' && data.at(j) != '"' && (data.at(j) != ',' || inQuotes))
                ++j;
            current += QString::fromUtf8(data.constData() + i, j - i);
            i = j;
        }
    }
    if (!currentQuoted)
        chopTrailingSpaces();
    items << current;
    return items;
}

// QSettings' markers for values that are not plain text.
bool decodeValue(const QString& text, QString* value)
{
    if (text.startsWith(QLatin1String("@@"))) {
        *value = text.mid(1);
        return true;
    }
    if (text == QLatin1String("@Invalid()"))
        return false;
    if (text.startsWith(QLatin1String("@ByteArray(")) && text.endsWith(QLatin1Char(')'))) {
        *value = QString::fromUtf8(text.mid(11, text.size() - 12).toLatin1());
        return true;
    }
    if (text.startsWith(QLatin1String("@Variant(")) && text.endsWith(QLatin1Char(')'))) {
        QByteArray bytes = text.mid(9, text.size() - 10).toLatin1();
        QDataStream stream(&bytes, QIODevice::ReadOnly);
        stream.setVersion(QDataStream::Qt_4_0);
        QVariant variant;
        stream >> variant;
        if (stream.status() != QDataStream::Ok || !variant.isValid())
            return false;
        *value = variant.toString();
        return true;
    }
    *value = text;
    return true;
}

} // namespace ini
} // namespace core
} // namespace vexo
