#pragma once

#include "core/model/Enums.h"

#include <QList>
#include <QString>

// A run of text in one colour role; bold marks the focused provider and the headings.
struct Span
{
    QString text;
    ColorRole role = ColorRole::neutral;
    bool bold = false;

    friend bool operator==(const Span&, const Span&) = default;
};

// One terminal row. Every character the layout uses takes one column, so the text length is the width.
struct ScreenLine
{
    QList<Span> spans;

    [[nodiscard]] QString plain() const
    {
        QString text;
        for (const Span& span : spans)
            text += span.text;
        return text;
    }

    friend bool operator==(const ScreenLine&, const ScreenLine&) = default;
};

// Box, block and braille characters, or plain ASCII for a terminal whose locale is not UTF-8.
enum class Glyphs
{
    utf8,
    ascii
};
