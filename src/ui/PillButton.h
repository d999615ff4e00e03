#pragma once

#include <QPushButton>

// A rounded button of the empty state and onboarding; the filled one is the suggested action.
class PillButton : public QPushButton
{
    Q_OBJECT
public:
    explicit PillButton(const QString& text, bool filled = false, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_filled;
};
