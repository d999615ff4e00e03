#pragma once

#include "core/model/ProviderHealth.h"

#include <QWidget>

#include <optional>

class QLabel;

// Nothing connected yet: what to do next, with "Connect Claude" and "Demo mode".
class EmptyStateView : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyStateView(QWidget* parent = nullptr);

    struct Input
    {
        // The published title and line (PublishedState::emptyTitle, emptyLine).
        QString title;
        QString line;
        // The running Codex provider's health, when one runs.
        std::optional<ProviderHealth> codexHealth;
        // The Claude Code status-line bridge is in place (installed or wrapping another status line).
        bool claudeBridge = false;
    };
    // Each provider's state and the Connect button follow what is really set up.
    void setInput(const Input& input);
    // One line per provider that is set up: its real state.
    [[nodiscard]] QString providerStates() const;
    // The bridge installer's answer, under the buttons.
    void setMessage(const QString& message);
    [[nodiscard]] QString title() const;
    [[nodiscard]] QString line() const;

Q_SIGNALS:
    void connectClaudeRequested();
    void demoModeRequested();

private:
    QLabel* m_title;
    QLabel* m_line;
    QLabel* m_states;
    QWidget* m_connectClaude;
    QLabel* m_message;
};
