#include "ui/MachinesSettings.h"

#include "app/AppState.h"
#include "core/io/MachineMirror.h"
#include "ui/CardFrame.h"
#include "ui/PlainText.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

MachinesSettings::MachinesSettings(AppState& state, QWidget* parent) : QWidget(parent), m_state(state)
{
    setObjectName(QStringLiteral("machinesSettings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CardFrame::note(
        QStringLiteral("Other machines you run Claude Code or Codex on, pulled over your own SSH every 5 "
                       "minutes (they need Tallyvane's command line installed).")));
    m_list = new QVBoxLayout;
    m_list->setSpacing(6);
    layout->addLayout(m_list);
    auto* add = new QHBoxLayout;
    m_destination = new QLineEdit;
    m_destination->setObjectName(QStringLiteral("machineDestination"));
    m_destination->setPlaceholderText(QStringLiteral("user@host or an ~/.ssh/config alias"));
    m_destination->setAccessibleName(QStringLiteral("SSH destination"));
    auto* button = new QPushButton(QStringLiteral("Add machine"));
    button->setObjectName(QStringLiteral("addMachine"));
    add->addWidget(m_destination, 1);
    add->addWidget(button);
    layout->addLayout(add);
    m_message = CardFrame::note({});
    m_message->setObjectName(QStringLiteral("machineMessage"));
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->hide();
    layout->addWidget(m_message);

    const auto addTyped = [this] {
        const QString destination = m_destination->text().trimmed();
        edit([destination](QList<MachineList::Machine>& machines) -> QString {
            if (const auto problem = MachineList::destinationProblem(destination))
                return *problem;
            if (MachineList::find(machines, destination))
                return destination + QStringLiteral(" is already in the list");
            machines.append({destination, {}, true});
            return {};
        });
    };
    connect(button, &QPushButton::clicked, this, addTyped);
    connect(m_destination, &QLineEdit::returnPressed, this, addTyped);
    connect(&m_state, &AppState::changed, this, &MachinesSettings::redraw);
    redraw();
}

void MachinesSettings::edit(std::function<QString(QList<MachineList::Machine>&)> change)
{
    QPointer<MachinesSettings> guard(this);
    m_queue.async([change = std::move(change), guard] {
        QList<MachineList::Machine> machines = MachineList::load();
        const QList<MachineList::Machine> before = machines;
        QString message = change(machines);
        QString error;
        if (message.isEmpty() && !MachineList::save(machines, &error))
            message = QStringLiteral("Could not write machines.json: ") + error;
        // What a removed machine left behind goes with it.
        for (const MachineList::Machine& m : before)
            if (message.isEmpty() && !MachineList::find(machines, m.destination))
                MachineMirror::remove(m, MachineMirror::loadState(m).machine);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, message] {
                if (!guard)
                    return;
                guard->m_message->setText(message);
                guard->m_message->setVisible(!message.isEmpty());
                if (message.isEmpty())
                    guard->m_destination->clear();
                guard->m_state.refreshAll();
            },
            Qt::QueuedConnection);
    });
}

void MachinesSettings::redraw()
{
    const PublishedState published = m_state.publishedState();
    const QList<MachineReport>& machines = published.bundle.machines;
    QStringList shown = published.machineHealth;
    for (const MachineReport& m : machines)
        shown.append(m.machine.destination + (m.machine.enabled ? u'+' : u'-'));
    if (shown == m_shown)
        return;
    m_shown = shown;
    while (QLayoutItem* item = m_list->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (qsizetype i = 0; i < machines.size(); ++i) {
        const MachineList::Machine machine = machines[i].machine;
        auto* line = new QWidget;
        line->setObjectName(QStringLiteral("machine-") + machine.destination);
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        auto* health = PlainText::label(published.machineHealth.value(i));
        health->setObjectName(QStringLiteral("machineHealth"));
        health->setWordWrap(true);
        row->addWidget(health, 1);
        auto* pulled = new QCheckBox(QStringLiteral("Pull"));
        pulled->setObjectName(QStringLiteral("machineSwitch"));
        pulled->setChecked(machine.enabled);
        row->addWidget(pulled);
        auto* remove = new QPushButton(QStringLiteral("Remove"));
        remove->setObjectName(QStringLiteral("removeMachine"));
        row->addWidget(remove);
        connect(pulled, &QCheckBox::toggled, this, [this, machine](bool on) {
            edit([machine, on](QList<MachineList::Machine>& list) -> QString {
                for (MachineList::Machine& m : list)
                    if (m.destination == machine.destination)
                        m.enabled = on;
                return {};
            });
        });
        connect(remove, &QPushButton::clicked, this, [this, machine] {
            edit([machine](QList<MachineList::Machine>& list) -> QString {
                list.removeIf(
                    [&](const MachineList::Machine& m) { return m.destination == machine.destination; });
                return {};
            });
        });
        m_list->addWidget(line);
    }
}
