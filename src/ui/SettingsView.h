#pragma once

#include "app/PublishedState.h"
#include "core/model/AppSettings.h"
#include "ui/PanelFeeds.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>

class AppState;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;
class QVBoxLayout;
class Stepper;
class StatusPill;

// The settings screen: every setting bound to its control (each change goes through the state, which
// schedules the debounced save), and the maintenance actions.
class StateActions;

class SettingsView : public QWidget
{
    Q_OBJECT
public:
    // One line of the screen, in screen order. A setting's line holds a control whose value (a check box's 0
    // or 1, a list's or picker's index, a stepper's or slider's number, a time's minutes) is read from the
    // settings and written back; any line may add more of the screen after it.
    struct Row
    {
        enum class Kind
        {
            none,
            check,
            choice,
            picker,
            stepper,
            slider,
            time
        };
        QString section{};
        Kind kind = Kind::none;
        // The control's object name.
        const char* name = "";
        QString label{};
        // choice and picker: the items; stepper and slider: the bounds and the step.
        QStringList items{};
        double minimum = 0;
        double maximum = 0;
        double step = 1;
        // stepper: its whole line for a value; slider: the value beside it.
        std::function<QString(const SettingsView&, double)> format{};
        std::function<double(const AppSettings&)> read{};
        // Called only with a value that differs from the one read.
        std::function<void(SettingsView&, double)> write{};
        QString help{};
        // Shown only while this holds; empty: always.
        std::function<bool(const AppSettings&)> shown{};
        void (SettingsView::*more)(QVBoxLayout*) = nullptr;
    };
    static const QList<Row>& rows();

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
    // The line of a row with a control, else null.
    QWidget* buildRow(const Row& row, QWidget*& control);
    QVBoxLayout* section(QVBoxLayout* parent, const QString& heading);
    void addDisplayHelp(QVBoxLayout* layout);
    void addPreview(QVBoxLayout* layout);
    void addBedtimeIn(QVBoxLayout* layout);
    void addSnooze(QVBoxLayout* alerts);
    void addBridgeActions(QVBoxLayout* layout);
    void addBridgeMessage(QVBoxLayout* layout);
    void addCodexStatus(QVBoxLayout* layout);
    void addAccounts(QVBoxLayout* layout);
    // Rebuilds the account lines when the folders differ, else brings their texts in line.
    void redrawAccounts(const QList<AccountRowText>& rows);
    // Runs one change of accounts.json off the GUI thread; a refusal shows below the list.
    void editAccounts(std::function<AccountSettings::Outcome()> change);
    void addMachines(QVBoxLayout* layout);
    void addMoreProviders(QVBoxLayout* layout);
    void addDataActions(QVBoxLayout* layout);
    void addDiagnostics(QVBoxLayout* layout);
    void edit(const std::function<void(AppSettings&)>& change);
    void snooze(const std::optional<QDateTime>& until);
    void setDemoMode(bool enabled);
    void setStartAtLogin(bool on);
    void showBridgeMessage(const QString& message);
    void showDataMessage(const QString& message);
    // Asks before deleting every stored reading; Cancel is the default.
    void confirmReset();
    void confirmPrune();
    // A retention that would drop readings takes effect once confirmed, asked when the stepper settles.
    void stepRetention(qint64 days);
    void confirmRetention();
    // A window-modal question with Cancel as the default; `yes` runs only for `action`, `no` otherwise.
    void confirm(const QString& name, const QString& title, const QString& text, const QString& action,
                 std::function<void()> yes, std::function<void()> no);

    AppState& m_state;
    const PanelFeeds& m_feeds;
    StateActions* m_actions = nullptr;
    QScrollArea* m_scroll = nullptr;
    // Per row of rows(): its control and its line (null for a row without a control).
    QList<QWidget*> m_controls;
    QList<QWidget*> m_lines;
    QLabel* m_displayHelp = nullptr;
    QLabel* m_previewIcon = nullptr;
    QLabel* m_previewText = nullptr;
    QLabel* m_bedtimeIn = nullptr;
    QWidget* m_snoozedRow = nullptr;
    QLabel* m_snoozedUntil = nullptr;
    QPushButton* m_snoozeMenu = nullptr;
    QLabel* m_demoAlertsNote = nullptr;
    QLabel* m_testMessage = nullptr;
    StatusPill* m_bridgeStatus = nullptr;
    QLabel* m_bridgeMessage = nullptr;
    QLabel* m_codexStatus = nullptr;
    QVBoxLayout* m_accountList = nullptr;
    QList<AccountRowText> m_accountRows;
    QLabel* m_accountMessage = nullptr;
    QLabel* m_codexHelp = nullptr;
    Stepper* m_retention = nullptr;
    QCheckBox* m_startAtLogin = nullptr;
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
