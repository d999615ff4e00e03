#pragma once

#include "core/model/Enums.h"

#include <QList>
#include <QWidget>

// A tiny chart of a few daily values: a sparkline (the trend card) or bars (daily usage).
class SparkChart : public QWidget
{
    Q_OBJECT
public:
    enum class Style
    {
        line,
        bars
    };

    explicit SparkChart(Style style, QWidget* parent = nullptr);
    void setValues(const QList<qint64>& values, ColorRole role = ColorRole::neutral);
    [[nodiscard]] const QList<qint64>& values() const { return m_values; }

    QSize sizeHint() const override { return {84, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style m_style;
    QList<qint64> m_values;
    ColorRole m_role = ColorRole::neutral;
};
