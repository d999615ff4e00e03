#pragma once

#include <QWidget>

#include <functional>

class QSpinBox;
class QToolButton;

// A value between "−" and "+" buttons, stepping over whole multiples of `step` within bounds. The value can
// be typed; Up and Down move by one step, Page Up and Page Down (or a Shift+click on a button) by ten.
class Stepper : public QWidget
{
    Q_OBJECT
public:
    using Formatter = std::function<QString(double)>;

    // `format` gives the whole line for a value, e.g. "Retention: 30 days"; the number in it is editable.
    Stepper(double minimum, double maximum, double step, Formatter format, QWidget* parent = nullptr);

    [[nodiscard]] double value() const { return m_value; }
    // Clamped to the bounds; does not emit.
    void setValue(double value);
    [[nodiscard]] QString text() const;
    void stepBy(int steps);
    // The field the value is typed in.
    [[nodiscard]] QSpinBox* field() const { return m_field; }

    // The steps a Shift+click, Page Up or Page Down moves.
    static constexpr int largeStep = 10;

Q_SIGNALS:
    void valueChanged(double value);

private:
    void refresh();
    void take(double value);

    double m_minimum;
    double m_maximum;
    double m_step;
    double m_value;
    Formatter m_format;
    QSpinBox* m_field;
    QToolButton* m_down;
    QToolButton* m_up;
};
