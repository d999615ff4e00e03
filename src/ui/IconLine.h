#pragma once

#include "ui/PanelIcons.h"

#include <QWidget>

class QLabel;

// A 12-px symbol in a colour followed by a wrapped line of text. Rich text keeps its plain form as the
// accessible name.
class IconLine : public QWidget
{
    Q_OBJECT
public:
    IconLine(PanelIcons::Symbol symbol, const QColor& color, const QString& text, QWidget* parent = nullptr);
    // The plain text and rich text that shows it (e.g. with a coloured tail).
    IconLine(PanelIcons::Symbol symbol, const QColor& color, const QString& plain, const QString& rich,
             QWidget* parent = nullptr);

    [[nodiscard]] QString text() const;
    [[nodiscard]] QLabel* label() const { return m_text; }

private:
    QLabel* m_text;
};
