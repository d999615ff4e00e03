#pragma once

#include <QWidget>

class AppState;
class QLabel;
class QStackedWidget;
class QCheckBox;
class QVBoxLayout;

// The panel's content: a header, one line per forecast with its summary, and a footer; a small settings
// page behind the header's Settings button.
class PanelView : public QWidget
{
    Q_OBJECT
public:
    struct Options
    {
        // Leaves the "Demo data" label out, for screenshots.
        bool capture = false;
        bool startOnSettings = false;
    };

    PanelView(AppState& state, Options options, QWidget* parent = nullptr);

    [[nodiscard]] bool isShowingSettings() const;
    // The header of the main page, by which the panel can be dragged.
    [[nodiscard]] QWidget* dragHandle() const { return m_header; }
    // The forecast lines as shown, for tests and accessibility.
    [[nodiscard]] QStringList lines() const;
    [[nodiscard]] QString footerText() const;

public Q_SLOTS:
    void redraw();
    void showSettings(bool show);

private:
    QWidget* buildMain();
    QWidget* buildSettings();
    // Saves the switch, restarts the providers (none in demo mode) and refreshes.
    void setDemoMode(bool enabled);

    AppState& m_state;
    Options m_options;
    QStackedWidget* m_pages = nullptr;
    QWidget* m_header = nullptr;
    QLabel* m_icon = nullptr;
    QVBoxLayout* m_lines = nullptr;
    QLabel* m_footer = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    QCheckBox* m_demoMode = nullptr;
};
