#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>

namespace vexo {
namespace core {
// The key and value escapes of IniDocument, as files written through QSettings hold them.
// Pure functions; any thread.
namespace ini {

// The key as QSettings took it: '%', '/' and '\\' percent-encoded, the empty key "%".
QString settingsKey(const std::string& key);
// That key as the file holds it.
QByteArray escapedKey(const QString& key);
// The key of bytes [from, to) of data.
QString unescapedKey(const QByteArray& data, int from, int to);

// A value as the file holds it.
QByteArray escapedValue(const QString& value);
// The value of bytes [from, to) of data: its items, and whether it was written as a list.
QStringList unescapedValue(const QByteArray& data, int from, int to, bool* isList);
// An item with QSettings' type markers ("@@", "@ByteArray(...)", "@Variant(...)") read;
// false for an invalid value.
bool decodeValue(const QString& text, QString* value);

} // namespace ini
} // namespace core
} // namespace vexo
