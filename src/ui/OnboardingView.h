#pragma once

#include <QWidget>

class IconLine;
class QLabel;
class QPushButton;

// The first screen of a first launch: what Tallyvane does, how each provider connects, "Connect Claude" and
// "Done".
class OnboardingView : public QWidget
{
    Q_OBJECT
public:
    explicit OnboardingView(QWidget* parent = nullptr);

    void setMessage(const QString& message);
    // The check that Codex connects by itself only when a `codex` executable was found; else how to get one.
    void setCodexFound(bool found);
    [[nodiscard]] QString codexLine() const;
    // The line on Claude and the connect button's label; no button without one.
    void setClaude(const QString& line, const QString& connectLabel);
    [[nodiscard]] QString claudeLine() const;
    // Fades the content in.
    void fadeIn();

Q_SIGNALS:
    void connectClaudeRequested();
    void doneRequested();

private:
    QLabel* m_message;
    IconLine* m_codexFound = nullptr;
    IconLine* m_codexMissing = nullptr;
    IconLine* m_claude = nullptr;
    QPushButton* m_connectClaude = nullptr;
};
