#include "core/text/JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

qsizetype skipSpace(QByteArrayView json, qsizetype i)
{
    while (i < json.size() && isSpace(json[i]))
        ++i;
    return i;
}

// Index after the string whose opening quote is at `i`.
qsizetype stringEnd(QByteArrayView json, qsizetype i)
{
    for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\')
            ++i;
    }
    return i + 1;
}

// Index after the value starting at `i`.
qsizetype valueEnd(QByteArrayView json, qsizetype i)
{
    if (i >= json.size())
        return i;
    if (json[i] == '"')
        return stringEnd(json, i);
    if (json[i] != '{' && json[i] != '[') {
        while (i < json.size() && !isSpace(json[i]) && json[i] != ',' && json[i] != '}' && json[i] != ']')
            ++i;
        return i;
    }
    int depth = 0;
    while (i < json.size()) {
        const char c = json[i];
        if (c == '"') {
            i = stringEnd(json, i);
            continue;
        }
        depth += c == '{' || c == '[' ? 1 : c == '}' || c == ']' ? -1 : 0;
        ++i;
        if (depth == 0)
            break;
    }
    return i;
}

QString keyOf(QByteArrayView json, qsizetype begin, qsizetype end)
{
    const QByteArrayView raw = json.sliced(begin, end - begin);
    if (!raw.contains('\\'))
        return QString::fromUtf8(raw.sliced(1, raw.size() - 2));
    return QJsonDocument::fromJson("[" + raw.toByteArray() + "]").array().at(0).toString();
}

// The whitespace a line starts with, for the line holding `at`.
QByteArrayView lineIndent(QByteArrayView json, qsizetype at)
{
    const qsizetype start = json.first(at).lastIndexOf('\n') + 1;
    qsizetype end = start;
    while (end < at && (json[end] == ' ' || json[end] == '\t'))
        ++end;
    return json.sliced(start, end - start);
}

qsizetype closingBrace(QByteArrayView json, qsizetype objectBegin)
{
    return valueEnd(json, objectBegin) - 1;
}

bool multiLine(QByteArrayView json, qsizetype objectBegin)
{
    return json.sliced(objectBegin, closingBrace(json, objectBegin) - objectBegin).contains('\n');
}

QByteArray replaced(QByteArrayView json, qsizetype begin, qsizetype end, QByteArrayView text)
{
    return json.first(begin).toByteArray() + text.toByteArray() + json.sliced(end).toByteArray();
}

} // namespace

namespace JsonText {

qsizetype topBegin(QByteArrayView json)
{
    // A byte-order mark is not whitespace to JSON, but editors write one.
    const qsizetype start = json.startsWith("\xef\xbb\xbf") ? 3 : 0;
    return skipSpace(json, start);
}

QList<Member> members(QByteArrayView json, qsizetype objectBegin)
{
    QList<Member> found;
    qsizetype i = skipSpace(json, objectBegin + 1);
    while (i < json.size() && json[i] == '"') {
        Member m;
        m.keyBegin = i;
        const qsizetype keyEnd = stringEnd(json, i);
        m.key = keyOf(json, i, keyEnd);
        m.valueBegin = skipSpace(json, skipSpace(json, keyEnd) + 1);
        m.valueEnd = valueEnd(json, m.valueBegin);
        found.append(m);
        i = skipSpace(json, m.valueEnd);
        if (i >= json.size() || json[i] != ',')
            break;
        i = skipSpace(json, i + 1);
    }
    return found;
}

std::optional<Member> member(QByteArrayView json, qsizetype objectBegin, QStringView key)
{
    std::optional<Member> last;
    for (const Member& m : members(json, objectBegin)) {
        if (m.key == key)
            last = m;
    }
    return last;
}

QByteArray set(QByteArrayView json, qsizetype objectBegin, QStringView key, QByteArrayView value)
{
    if (const std::optional<Member> existing = member(json, objectBegin, key))
        return replaced(json, existing->valueBegin, existing->valueEnd, value);
    const QByteArray name = quoted(key.toString());
    const QList<Member> all = members(json, objectBegin);
    if (!all.isEmpty()) {
        const Member& first = all.first();
        const QByteArrayView separator =
            json.sliced(stringEnd(json, first.keyBegin), first.valueBegin - stringEnd(json, first.keyBegin));
        const QByteArray lead = json.sliced(objectBegin, first.keyBegin - objectBegin).contains('\n')
                                    ? "\n" + lineIndent(json, first.keyBegin).toByteArray()
                                    : QByteArray(separator.contains(' ') ? " " : "");
        const qsizetype at = all.last().valueEnd;
        return replaced(json, at, at, "," + lead + name + separator.toByteArray() + value.toByteArray());
    }
    // An empty object: written the way the document writes its top object, two spaces a level by default.
    const qsizetype top = topBegin(json);
    const QList<Member> topMembers = top == objectBegin ? all : members(json, top);
    QByteArray unit = "  ";
    if (!topMembers.isEmpty()) {
        if (!multiLine(json, top))
            return replaced(json, objectBegin + 1, closingBrace(json, objectBegin),
                            name + ":" + value.toByteArray());
        const QByteArrayView outer = lineIndent(json, top);
        const QByteArrayView inner = lineIndent(json, topMembers.first().keyBegin);
        if (inner.size() > outer.size() && inner.startsWith(outer))
            unit = inner.sliced(outer.size()).toByteArray();
    }
    const QByteArray indent = lineIndent(json, objectBegin).toByteArray();
    return replaced(json, objectBegin + 1, closingBrace(json, objectBegin),
                    "\n" + indent + unit + name + ": " + value.toByteArray() + "\n" + indent);
}

QByteArray remove(QByteArrayView json, qsizetype objectBegin, QStringView key)
{
    QByteArray text = json.toByteArray();
    for (;;) {
        const QList<Member> all = members(text, objectBegin);
        qsizetype i = all.size() - 1;
        while (i >= 0 && all[i].key != key)
            --i;
        if (i < 0)
            return text;
        if (i > 0)
            text = replaced(text, all[i - 1].valueEnd, all[i].valueEnd, {});
        else if (all.size() > 1)
            text = replaced(text, all[0].keyBegin, all[1].keyBegin, {});
        else
            text = replaced(text, objectBegin + 1, closingBrace(text, objectBegin), {});
    }
}

QByteArray quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.sliced(1, array.size() - 2);
}

} // namespace JsonText
