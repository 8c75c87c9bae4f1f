#include "vexo-core/IniDocument.h"

#include "vexo-core/IniEscaping.h"

#include <QStringList>

namespace vexo {
namespace core {

using ini::decodeValue;
using ini::escapedKey;
using ini::escapedValue;
using ini::settingsKey;
using ini::unescapedKey;
using ini::unescapedValue;

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Where the logical line that starts at pos ends (before a comment after a value, or the
// line break), where the next line starts, and its first '=' outside quotes (-1: none).
struct LineExtent
{
    int end;
    int next;
    int equals;
};

LineExtent scanLine(const QByteArray& data, int pos)
{
    const int size = data.size();
    const char first = data.at(pos);
    int i = pos;
    int equals = -1;
    if (first == ';' || first == '#') {
        while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
            ++i;
    } else {
        bool inQuotes = false;
        while (i < size) {
            const char ch = data.at(i);
            if ((ch == '\n' || ch == '\r') && !inQuotes)
                break;
            if (ch == ';' && !inQuotes)
                break;
            if (ch == '=' && !inQuotes && equals < 0)
                equals = i;
            else if (ch == '"')
                inQuotes = !inQuotes;
            else if (ch == '\\' && i + 1 < size) {
                ++i;
                if (i + 1 < size
                    && ((data.at(i) == '\n' && data.at(i + 1) == '\r')
                        || (data.at(i) == '\r' && data.at(i + 1) == '\n')))
                    ++i;
            }
            ++i;
        }
    }
    const int end = i;
    // A comment after a value belongs to its line.
    while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
        ++i;
    if (i < size)
        i += (i + 1 < size && data.at(i) == '\r' && data.at(i + 1) == '\n') ? 2 : 1;
    return {end, i, equals};
}

} // namespace

IniDocument::IniDocument(const QByteArray& text)
    : data(text)
{
    parse();
}

// Logical lines as QSettings reads them: a line break inside quotes or after a backslash
// continues the line; ';' starts a comment, at the line's start or after a value.
void IniDocument::parse()
{
    lines.clear();
    generalEnd = -1;
    firstProblem.clear();
    bool inGeneral = true;
    bool generalSeen = false;
    const int size = data.size();
    int pos = 0;
    auto problem = [&](int at, const char* why) {
        if (!firstProblem.empty())
            return;
        const int lineNumber = data.left(at).count('\n') + 1;
        firstProblem = "line " + std::to_string(lineNumber) + ": " + why;
    };
    while (pos < size) {
        while (pos < size && isSpace(data.at(pos)))
            ++pos;
        if (pos >= size)
            break;
        Line line;
        line.start = pos;
        const char first = data.at(pos);
        const LineExtent extent = scanLine(data, pos);
        line.end = extent.end;
        line.next = extent.next;
        const int equals = extent.equals;
        pos = extent.next;

        if (first == ';' || first == '#') {
            // A comment: kept as it is.
        } else if (first == '[') {
            const int close = data.indexOf(']', line.start);
            if (close < 0 || close >= line.end)
                problem(line.start, "a section name without ']'");
            const int nameEnd = (close < 0 || close >= line.end) ? line.end : close;
            const QByteArray name = data.mid(line.start + 1, nameEnd - line.start - 1).trimmed();
            inGeneral = name.compare("general", Qt::CaseInsensitive) == 0;
            if (inGeneral && !generalSeen) {
                generalSeen = true;
                if (generalEnd < 0)
                    generalEnd = line.next;
            }
        } else if (equals < 0) {
            problem(line.start, "neither an entry (key=value) nor a section");
        } else if (inGeneral) {
            int keyEnd = equals;
            while (keyEnd > line.start && (data.at(keyEnd - 1) == ' ' || data.at(keyEnd - 1) == '\t'))
                --keyEnd;
            line.entry = true;
            line.key = unescapedKey(data, line.start, keyEnd);
            line.valueStart = equals + 1;
            generalEnd = line.next;
        }
        lines.push_back(line);
    }
}

const IniDocument::Line* IniDocument::lastEntry(const QString& key) const
{
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (it->entry && it->key == key)
            return &*it;
    return nullptr;
}

bool IniDocument::value(const std::string& key, std::string* value) const
{
    const Line* line = lastEntry(settingsKey(key));
    if (!line)
        return false;
    bool isList = false;
    const QStringList items = unescapedValue(data, line->valueStart, line->end, &isList);
    QStringList decoded;
    for (const QString& item : items) {
        QString text;
        if (!decodeValue(item, &text)) {
            if (!isList)
                return false;
        } else {
            decoded << text;
        }
    }
    *value = decoded.join(QStringLiteral(", ")).toStdString();
    return true;
}

void IniDocument::setValue(const std::string& key, const std::string& value)
{
    const QString stored = settingsKey(key);
    QString text = QString::fromStdString(value);
    if (text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('@'));
    const QByteArray entry = escapedKey(stored) + '=' + escapedValue(text);

    const Line* last = lastEntry(stored);
    if (last) {
        // Earlier copies go, from the back so the positions ahead stay valid.
        const int lastStart = last->start;
        const int lastEnd = last->end;
        std::vector<std::pair<int, int>> removals;
        for (const Line& line : lines)
            if (line.entry && line.key == stored && line.start != lastStart)
                removals.emplace_back(line.start, line.next);
        data.replace(lastStart, lastEnd - lastStart, entry);
        for (auto it = removals.rbegin(); it != removals.rend(); ++it)
            data.remove(it->first, it->second - it->first);
    } else if (generalEnd >= 0) {
        QByteArray insert = entry + '\n';
        if (generalEnd > 0 && data.at(generalEnd - 1) != '\n' && data.at(generalEnd - 1) != '\r')
            insert.prepend('\n');
        data.insert(generalEnd, insert);
    } else {
        // No [General] section yet: one goes before the first other section.
        int at = data.size();
        for (const Line& line : lines) {
            if (data.at(line.start) == '[') {
                at = line.start;
                break;
            }
        }
        QByteArray insert = "[General]\n" + entry + '\n';
        if (at < data.size())
            insert += '\n';
        if (at > 0 && data.at(at - 1) != '\n' && data.at(at - 1) != '\r')
            insert.prepend('\n');
        data.insert(at, insert);
    }
    parse();
}

} // namespace core
} // namespace vexo
