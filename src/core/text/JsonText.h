#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Edits of one member in a JSON document's text, leaving every other byte as it was: the order of the
// members, their indentation and numbers no parser would read back the same (a 64-bit integer). The text
// must be valid JSON (checked by the caller with a parser); offsets are into its UTF-8 bytes.
namespace JsonText {

struct Member
{
    QString key;
    qsizetype keyBegin = 0;
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

// The members of the object whose '{' is at `objectBegin`, in the order they are written.
[[nodiscard]] QList<Member> members(QByteArrayView json, qsizetype objectBegin);
// Where the document's top value starts.
[[nodiscard]] qsizetype topBegin(QByteArrayView json);
// The last member named `key` of the object at `objectBegin` (the one a parser keeps).
[[nodiscard]] std::optional<Member> member(QByteArrayView json, qsizetype objectBegin, QStringView key);

// `json` with the member `key` of the object at `objectBegin` given the JSON text `value`: in place when
// there is one, else after the last member, written in the style of the document.
[[nodiscard]] QByteArray set(QByteArrayView json, qsizetype objectBegin, QStringView key,
                             QByteArrayView value);
// `json` without the member `key` of the object at `objectBegin`, the exact inverse of adding it with set.
[[nodiscard]] QByteArray remove(QByteArrayView json, qsizetype objectBegin, QStringView key);

// `text` as a JSON string.
[[nodiscard]] QByteArray quoted(const QString& text);

} // namespace JsonText
