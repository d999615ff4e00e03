#pragma once

#include "ui/CardFrame.h"
#include "ui/ForecastCardInput.h"

class AppState;
class QLabel;
class QGridLayout;
class QHBoxLayout;
class QActionGroup;
class QPushButton;
class RangeChartView;
class SegmentedPicker;

// The detailed view of one window: provider tabs, the range title with the focus menu, the basis picker with
// its explanation, the range chart and the summary lines.
class ForecastCard : public CardFrame
{
    Q_OBJECT
public:
    explicit ForecastCard(AppState& state, QWidget* parent = nullptr);

    void setInput(const ForecastCardInput& input);
    [[nodiscard]] const ForecastCardInput& input() const { return m_input; }
    [[nodiscard]] RangeChartView* chart() const { return m_chart; }
    [[nodiscard]] SegmentedPicker* basisPicker() const { return m_basis; }
    [[nodiscard]] SegmentedPicker* providerTabs() const { return m_tabPicker; }
    [[nodiscard]] QPushButton* focusButton() const { return m_focus; }
    // The summary lines as "label: value", in order.
    [[nodiscard]] QStringList summaryLines() const;

private:
    void rebuildTabs();
    void rebuildFocusMenu();
    void rebuildSummary();
    void addLine(const QString& label, QWidget* value);
    void addLine(const QString& label, const QString& value);

    AppState& m_state;
    ForecastCardInput m_input;
    QWidget* m_tabRow = nullptr;
    QHBoxLayout* m_tabs = nullptr;
    SegmentedPicker* m_tabPicker = nullptr;
    QLabel* m_title = nullptr;
    QPushButton* m_focus = nullptr;
    QActionGroup* m_focusChoices = nullptr;
    SegmentedPicker* m_basis = nullptr;
    QLabel* m_explanation = nullptr;
    RangeChartView* m_chart = nullptr;
    QLabel* m_noData = nullptr;
    QWidget* m_summary = nullptr;
    QGridLayout* m_grid = nullptr;
    QLabel* m_confidence = nullptr;
};
