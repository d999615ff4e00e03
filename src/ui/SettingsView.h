#pragma once

#include "core/model/AppSettings.h"
#include "ui/PanelFeeds.h"

#include <QDateTime>
#include <QWidget>

#include <functional>

class AppState;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimeEdit;
class QTimer;
class QToolButton;
class QVBoxLayout;
class SegmentedPicker;
class Stepper;
class StatusPill;

// The settings screen: every setting bound to its control (each change goes through the state, which
// schedules the debounced save), and the maintenance actions.
class StateActions;

class SettingsView : public QWidget
{
    Q_OBJECT
public:
    SettingsView(AppState& state, const PanelFeeds& feeds, QWidget* parent = nullptr);

    // Brings every control and text in line with the state.
    void redraw();
    // The message the last bridge or data action returned.
    [[nodiscard]] QString bridgeMessage() const;
    [[nodiscard]] QString dataMessage() const;

Q_SIGNALS:
    void backRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildContent();
    QVBoxLayout* section(QVBoxLayout* parent, const QString& heading);
    void edit(const std::function<void(AppSettings&)>& change);
    void snooze(const std::optional<QDateTime>& until);
    void setDemoMode(bool enabled);
    void showBridgeMessage(const QString& message);
    void showDataMessage(const QString& message);
    // Asks before deleting every stored reading; Cancel is the default.
    void confirmReset();
    void confirmPrune();
    // A retention that would drop readings takes effect once confirmed, asked when the stepper settles.
    void confirmRetention();
    // A window-modal question with Cancel as the default; `yes` runs only for `action`, `no` otherwise.
    void confirm(const QString& name, const QString& title, const QString& text, const QString& action,
                 std::function<void()> yes, std::function<void()> no);

    AppState& m_state;
    const PanelFeeds& m_feeds;
    StateActions* m_actions = nullptr;
    QScrollArea* m_scroll = nullptr;
    QCheckBox* m_codex = nullptr;
    QCheckBox* m_claude = nullptr;
    SegmentedPicker* m_basis = nullptr;
    QComboBox* m_displayMode = nullptr;
    QLabel* m_displayHelp = nullptr;
    QWidget* m_focusRow = nullptr;
    QComboBox* m_focusProvider = nullptr;
    QLabel* m_previewIcon = nullptr;
    QLabel* m_previewText = nullptr;
    QCheckBox* m_showRemaining = nullptr;
    QCheckBox* m_statusLineForecast = nullptr;
    QCheckBox* m_currencyGBP = nullptr;
    Stepper* m_budget = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
    QSlider* m_dailyTarget = nullptr;
    QLabel* m_dailyTargetValue = nullptr;
    QCheckBox* m_sleep = nullptr;
    QWidget* m_sleepDetails = nullptr;
    QTimeEdit* m_bedtime = nullptr;
    QTimeEdit* m_wake = nullptr;
    QLabel* m_bedtimeIn = nullptr;
    QCheckBox* m_notifications = nullptr;
    Stepper* m_usageAbove = nullptr;
    Stepper* m_forecastAbove = nullptr;
    Stepper* m_timeToLimit = nullptr;
    QWidget* m_snoozedRow = nullptr;
    QLabel* m_snoozedUntil = nullptr;
    QPushButton* m_snoozeMenu = nullptr;
    QLabel* m_demoAlertsNote = nullptr;
    QLabel* m_testMessage = nullptr;
    StatusPill* m_bridgeStatus = nullptr;
    QLabel* m_bridgeMessage = nullptr;
    QLabel* m_codexStatus = nullptr;
    QLabel* m_codexHelp = nullptr;
    QCheckBox* m_demoMode = nullptr;
    Stepper* m_retention = nullptr;
    QTimer* m_retentionSettle = nullptr;
    QString m_budgetPrefix = QStringLiteral("£");
    QPushButton* m_bridgeInstall = nullptr;
    QPushButton* m_bridgeRepair = nullptr;
    QPushButton* m_bridgeUninstall = nullptr;
    QLabel* m_dataMessage = nullptr;
    QLabel* m_diagnostics = nullptr;
    QLabel* m_copyMessage = nullptr;
    QLabel* m_lastUpdate = nullptr;
};
