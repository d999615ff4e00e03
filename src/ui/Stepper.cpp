#include "ui/Stepper.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include <algorithm>
#include <cmath>

Stepper::Stepper(double minimum, double maximum, double step, Formatter format, QWidget* parent)
    : QWidget(parent), m_minimum(minimum), m_maximum(maximum), m_step(step), m_value(minimum),
      m_format(std::move(format)), m_label(new QLabel), m_down(new QToolButton), m_up(new QToolButton)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_label->setObjectName(QStringLiteral("stepperValue"));
    layout->addWidget(m_label, 1);
    m_down->setText(QStringLiteral("−"));
    m_down->setAccessibleName(QStringLiteral("Decrease"));
    m_up->setText(QStringLiteral("+"));
    m_up->setAccessibleName(QStringLiteral("Increase"));
    for (QToolButton* button : {m_down, m_up}) {
        button->setFixedSize(26, 24);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoRepeat(true);
        layout->addWidget(button);
    }
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    refresh();
}

void Stepper::setValue(double value)
{
    m_value = std::isfinite(value) ? std::clamp(value, m_minimum, m_maximum) : m_minimum;
    refresh();
}

void Stepper::stepBy(int steps)
{
    // Onto the step grid: an odd stored value (12 in steps of 5) goes up to 15 and down to 10.
    const double position = (m_value - m_minimum) / m_step;
    const double grid = steps > 0 ? std::floor(position + 1e-9) : std::ceil(position - 1e-9);
    const double next = std::clamp(m_minimum + (grid + steps) * m_step, m_minimum, m_maximum);
    if (next == m_value)
        return;
    m_value = next;
    refresh();
    Q_EMIT valueChanged(m_value);
}

QString Stepper::text() const
{
    return m_label->text();
}

void Stepper::refresh()
{
    m_label->setText(m_format(m_value));
    m_down->setEnabled(m_value > m_minimum);
    m_up->setEnabled(m_value < m_maximum);
}
