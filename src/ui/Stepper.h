#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QToolButton;

// A value label between "−" and "+" buttons, stepping over whole multiples of `step` within bounds.
class Stepper : public QWidget
{
    Q_OBJECT
public:
    using Formatter = std::function<QString(double)>;

    Stepper(double minimum, double maximum, double step, Formatter format, QWidget* parent = nullptr);

    [[nodiscard]] double value() const { return m_value; }
    // Clamped to the bounds; does not emit.
    void setValue(double value);
    [[nodiscard]] QString text() const;
    void stepBy(int steps);

Q_SIGNALS:
    void valueChanged(double value);

private:
    void refresh();

    double m_minimum;
    double m_maximum;
    double m_step;
    double m_value;
    Formatter m_format;
    QLabel* m_label;
    QToolButton* m_down;
    QToolButton* m_up;
};
