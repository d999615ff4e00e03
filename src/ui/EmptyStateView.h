#pragma once

#include <QWidget>

class QLabel;

// Nothing connected yet: what to do next, with "Connect Claude" and "Demo mode".
class EmptyStateView : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyStateView(QWidget* parent = nullptr);

    // Whether a `codex` executable was found: the title and line follow.
    void setCodexFound(bool found);
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
    QLabel* m_message;
};
