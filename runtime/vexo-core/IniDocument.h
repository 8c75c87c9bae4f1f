#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace vexo {
namespace core {

// The text of a configuration file in INI form, as people edit it by hand and as earlier
// versions wrote it through QSettings: the same key and value escapes, so files move both
// ways. Entries are those of the [General] section (and of lines before any section);
// other sections, comments and lines that cannot be read are kept byte for byte when an
// entry changes, so a save never destroys what someone wrote by hand.
//
// Pure text: no file access, no locking; not thread-safe (one owner at a time).
class IniDocument
{
public:
    explicit IniDocument(const QByteArray& text = QByteArray());

    // False when the entry is absent (or holds an invalid value such as "@Invalid()").
    // A hand-written list ("a, b") reads as its items joined with ", ".
    bool value(const std::string& key, std::string* value) const;

    // Rewrites the entry's line in place, or adds it to the [General] section; a key that
    // appears more than once keeps one line.
    void setValue(const std::string& key, const std::string& value);

    const QByteArray& text() const { return data; }

    // The first line that cannot be read, as "line N: why"; empty when there is none.
    const std::string& problem() const { return firstProblem; }

private:
    struct Line
    {
        int start = 0; // first byte of the logical line
        int end = 0; // one past its last byte, before the line break
        int next = 0; // where the next line starts (after the break)
        bool entry = false; // key=value in the [General] section
        int valueStart = 0;
        QString key; // unescaped, as QSettings saw it
    };

    void parse();
    const Line* lastEntry(const QString& key) const;

    QByteArray data;
    std::vector<Line> lines;
    // Where a new entry goes: after the last [General] line, or -1 when there is none.
    int generalEnd = -1;
    std::string firstProblem;
};

} // namespace core
} // namespace vexo
