#pragma once

#include "core/model/Enums.h"

#include <QWidget>

class QLabel;
class QToolButton;

// The main screen's header: the gauge of the overall status, the title and subtitle, and the Refresh and
// Settings buttons. The panel is dragged by it.
class HeaderView : public QWidget
{
    Q_OBJECT
public:
    explicit HeaderView(QWidget* parent = nullptr);

    void setStatus(ForecastStatus status);
    [[nodiscard]] QToolButton* refreshButton() const { return m_refresh; }
    [[nodiscard]] QToolButton* settingsButton() const { return m_settings; }

Q_SIGNALS:
    void refreshRequested();
    void settingsRequested();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyIcons();

    QLabel* m_icon;
    QToolButton* m_refresh;
    QToolButton* m_settings;
    ForecastStatus m_status = ForecastStatus::noData;
};
