#pragma once

#include "core/model/Enums.h"

#include <QWidget>

#include <optional>

// A 6-px rounded bar: the used (or left) share in the status colour over a neutral track, with an optional
// tick where an even pace would stand.
class UsageBar : public QWidget
{
    Q_OBJECT
public:
    explicit UsageBar(QWidget* parent = nullptr);

    // `fraction` and `tick` are clamped to 0..1.
    void setValue(double fraction, ColorRole role, std::optional<double> tick = std::nullopt);
    [[nodiscard]] double fraction() const { return m_fraction; }
    [[nodiscard]] std::optional<double> tick() const { return m_tick; }

    QSize sizeHint() const override { return {120, 8}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_fraction = 0;
    ColorRole m_role = ColorRole::neutral;
    std::optional<double> m_tick;
};
