#pragma once

#include <QWidget>

class QLabel;

// The first screen of a first launch: what Tallyvane does, how each provider connects, "Connect Claude" and
// "Done".
class OnboardingView : public QWidget
{
    Q_OBJECT
public:
    explicit OnboardingView(QWidget* parent = nullptr);

    void setMessage(const QString& message);
    // Fades the content in.
    void fadeIn();

Q_SIGNALS:
    void connectClaudeRequested();
    void doneRequested();

private:
    QLabel* m_message;
};
