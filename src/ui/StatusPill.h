#pragma once

#include "core/model/Enums.h"

#include <QLabel>

// A capsule label: a status pill (the status colour at low opacity behind text in that colour) or, with the
// neutral role, a chip.
class StatusPill : public QLabel
{
    Q_OBJECT
public:
    explicit StatusPill(const QString& text = {}, ColorRole role = ColorRole::neutral,
                        QWidget* parent = nullptr);
    static StatusPill* forStatus(ForecastStatus status);

    void setRole(ColorRole role);
    [[nodiscard]] ColorRole role() const { return m_role; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColors();

    ColorRole m_role;
};
