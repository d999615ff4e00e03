#include "app/StateActions.h"

#include "app/AppState.h"
#include "core/io/SnapshotStore.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

StateActions::StateActions(AppState& state, QObject* parent) : QObject(parent), m_state(state) {}

// The queue's destructor lets a running action finish; its answer then finds no one and is dropped.
StateActions::~StateActions() = default;

template <typename Result>
void StateActions::run(std::function<Result()> work, std::function<void(Result)> answer, bool refreshAfter)
{
    QPointer<StateActions> guard(this);
    m_queue.async([work = std::move(work), answer = std::move(answer), guard, refreshAfter] {
        Result result = work();
        // Posted to the application object, which outlives this; the guard is read on its thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, answer, result = std::move(result), refreshAfter] {
                if (!guard)
                    return;
                if (refreshAfter)
                    guard->m_state.refresh();
                answer(result);
            },
            Qt::QueuedConnection);
    });
}

void StateActions::prune(qint64 retentionDays, std::function<void(StoreOutcome)> answer)
{
    std::shared_ptr<SnapshotStore> store = m_state.store();
    run<StoreOutcome>(
        [store, retentionDays] {
            const qsizetype before = store->log().size();
            if (!store->prune(retentionDays))
                return StoreOutcome{};
            return StoreOutcome{true, std::max<qsizetype>(0, before - store->log().size())};
        },
        std::move(answer), true);
}

void StateActions::clear(std::function<void(StoreOutcome)> answer)
{
    std::shared_ptr<SnapshotStore> store = m_state.store();
    run<StoreOutcome>(
        [store] {
            const qsizetype stored = store->log().size();
            return store->clear() ? StoreOutcome{true, stored} : StoreOutcome{};
        },
        std::move(answer), true);
}

void StateActions::exportCsv(std::function<void(ExportOutcome)> answer)
{
    std::shared_ptr<SnapshotStore> store = m_state.store();
    run<ExportOutcome>(
        [store] {
            ExportOutcome outcome{store->exportCSV(), {}};
            if (!outcome.path)
                outcome.error = store->lastExportError();
            return outcome;
        },
        std::move(answer), false);
}

void StateActions::installBridge(std::function<void(QString)> answer)
{
    run<QString>([] { return ClaudeStatusLineBridgeInstaller::install().message; }, std::move(answer), true);
}

void StateActions::uninstallBridge(std::function<void(QString)> answer)
{
    run<QString>([] { return ClaudeStatusLineBridgeInstaller::uninstall().message; }, std::move(answer),
                 true);
}

void StateActions::editAccounts(std::function<AccountSettings::Outcome()> change,
                                std::function<void(AccountSettings::Outcome)> answer)
{
    AppState* state = &m_state;
    run<AccountSettings::Outcome>(
        std::move(change),
        [state, answer = std::move(answer)](const AccountSettings::Outcome& outcome) {
            state->reloadAccounts();
            answer(outcome);
        },
        false);
}
