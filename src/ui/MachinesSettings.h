#pragma once

#include "core/io/MachineList.h"
#include "core/runtime/SerialQueue.h"

#include <QList>
#include <QWidget>

class AppState;
class QLabel;
class QLineEdit;
class QVBoxLayout;

// Settings' Machines section: each other machine with its health, a switch and Remove, and a line to add one
// by its SSH destination. machines.json is written off the GUI thread; the state then pulls and computes
// again, so each line shows what was written and how the machine answers.
class MachinesSettings : public QWidget
{
    Q_OBJECT

public:
    explicit MachinesSettings(AppState& state, QWidget* parent = nullptr);

    void redraw();

private:
    // Runs `change` on the list as it is on disk, saves it, then shows its message (empty: done).
    void edit(std::function<QString(QList<MachineList::Machine>&)> change);

    AppState& m_state;
    QVBoxLayout* m_list = nullptr;
    QLineEdit* m_destination = nullptr;
    QLabel* m_message = nullptr;
    QStringList m_shown;
    SerialQueue m_queue{QStringLiteral("tallyvane.machinesettings")};
};
