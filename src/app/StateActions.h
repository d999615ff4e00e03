#pragma once

#include "app/AccountSettings.h"
#include "core/runtime/SerialQueue.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class AppState;

// The panel's actions on the disk (prune, reset and export the snapshot log; install, repair and remove the
// Claude status-line bridge; change accounts.json), run on their own queue so the GUI thread never waits on a
// file. Each answer comes back on the GUI thread; none comes once this is gone.
class StateActions : public QObject
{
    Q_OBJECT

public:
    struct StoreOutcome
    {
        bool done = false;
        qsizetype removed = 0;
    };
    struct ExportOutcome
    {
        std::optional<QString> path;
        QString error;
    };

    // `state` outlives this.
    explicit StateActions(AppState& state, QObject* parent = nullptr);
    ~StateActions() override;

    // Both refresh the state once the log has changed.
    void prune(qint64 retentionDays, std::function<void(StoreOutcome)> answer);
    void clear(std::function<void(StoreOutcome)> answer);
    void exportCsv(std::function<void(ExportOutcome)> answer);
    // Deploys the bridge script and installs it (which also repairs it), or removes it; both refresh the
    // state, whose Claude health follows the bridge. The answer is the installer's message.
    void installBridge(std::function<void(QString)> answer);
    void uninstallBridge(std::function<void(QString)> answer);

    // Changes accounts.json (one of AccountSettings' changes), then has the state read it again.
    void editAccounts(std::function<AccountSettings::Outcome()> change,
                      std::function<void(AccountSettings::Outcome)> answer);

private:
    template <typename Result>
    void run(std::function<Result()> work, std::function<void(Result)> answer, bool refreshAfter);

    AppState& m_state;
    SerialQueue m_queue{QStringLiteral("tallyvane.actions")};
};
