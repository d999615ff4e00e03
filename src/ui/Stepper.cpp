#include "ui/Stepper.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>
#include <cmath>

Stepper::Stepper(double minimum, double maximum, double step, Formatter format, QWidget* parent)
    : QWidget(parent), m_minimum(minimum), m_maximum(maximum), m_step(step), m_value(minimum),
      m_format(std::move(format)), m_field(new QSpinBox), m_down(new QToolButton), m_up(new QToolButton)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_field->setObjectName(QStringLiteral("stepperValue"));
    m_field->setRange(static_cast<int>(std::lround(minimum)), static_cast<int>(std::lround(maximum)));
    m_field->setSingleStep(static_cast<int>(std::max(1L, std::lround(step))));
    // Reads as a line of text; the buttons beside it do the stepping.
    m_field->setButtonSymbols(QAbstractSpinBox::NoButtons);
    m_field->setFrame(false);
    m_field->setKeyboardTracking(false);
    m_field->setFocusPolicy(Qt::StrongFocus);
    // The line for the lowest value may hold no number ("Overage budget: off").
    const QString lowest = m_format(minimum);
    if (!lowest.contains(QString::number(std::lround(minimum))))
        m_field->setSpecialValueText(lowest);
    layout->addWidget(m_field, 1);
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
    const auto steps = [] {
        return QGuiApplication::keyboardModifiers() & Qt::ShiftModifier ? largeStep : 1;
    };
    connect(m_down, &QToolButton::clicked, this, [this, steps] { stepBy(-steps()); });
    connect(m_up, &QToolButton::clicked, this, [this, steps] { stepBy(steps()); });
    // Arrow keys, Page Up and Page Down step on the grid; a typed value is taken as typed.
    connect(m_field, &QSpinBox::valueChanged, this, [this](int typed) { take(typed); });
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
    take(m_minimum + (grid + steps) * m_step);
}

void Stepper::take(double value)
{
    const double next = std::clamp(value, m_minimum, m_maximum);
    if (next == m_value) {
        refresh();
        return;
    }
    m_value = next;
    refresh();
    Q_EMIT valueChanged(m_value);
}

QString Stepper::text() const
{
    return m_format(m_value);
}

void Stepper::refresh()
{
    // The number sits in the formatted line; what is around it becomes the field's prefix and suffix.
    const QString line = m_format(m_value);
    const QString number = QString::number(std::lround(m_value));
    const qsizetype at = line.lastIndexOf(number);
    const QSignalBlocker block(m_field);
    if (at >= 0) {
        m_field->setPrefix(line.left(at));
        m_field->setSuffix(line.mid(at + number.size()));
    }
    m_field->setValue(static_cast<int>(std::lround(m_value)));
    m_down->setEnabled(m_value > m_minimum);
    m_up->setEnabled(m_value < m_maximum);
}
