#pragma once

#include <QLabel>
#include <QString>

// Labels and tooltips that show their text as it stands: a model or plan name is never taken for markup
// (an <img> in one would make Qt load the file it names).
namespace PlainText {

inline QLabel* label(const QString& text = {})
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// QToolTip guesses the format from the text, so plain text goes in escaped inside an explicit rich-text
// wrapper.
inline QString toolTip(const QString& text)
{
    if (text.isEmpty())
        return text;
    return QStringLiteral("<qt>%1</qt>")
        .arg(text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>")));
}

} // namespace PlainText
