#pragma once

#include <QWidget>

class IconLine;
class QLabel;

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
    // Fades the content in.
    void fadeIn();

Q_SIGNALS:
    void connectClaudeRequested();
    void doneRequested();

private:
    QLabel* m_message;
    IconLine* m_codexFound = nullptr;
    IconLine* m_codexMissing = nullptr;
};
