#include "ui/IconLine.h"

#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QLabel>

IconLine::IconLine(PanelIcons::Symbol symbol, const QColor& color, const QString& text, QWidget* parent)
    : IconLine(symbol, color, text, QString(), parent)
{}

IconLine::IconLine(PanelIcons::Symbol symbol, const QColor& color, const QString& plain, const QString& rich,
                   QWidget* parent)
    : QWidget(parent), m_text(PlainText::label())
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = PlainText::label();
    icon->setPixmap(PanelIcons::pixmap(symbol, color, 12, devicePixelRatioF()));
    // As high as one line of text, so that the symbol sits level with the first line.
    icon->setFixedSize(12, m_text->fontMetrics().height());
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon, 0, Qt::AlignTop);
    m_text->setWordWrap(true);
    // `rich` is built here from escaped parts; anything else stays plain.
    if (!rich.isEmpty())
        m_text->setTextFormat(Qt::RichText);
    m_text->setText(rich.isEmpty() ? plain : rich);
    m_text->setAccessibleName(plain);
    layout->addWidget(m_text, 1);
}

QString IconLine::text() const
{
    return m_text->accessibleName();
}
