#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;

// The main screen's footer: "Demo data" or the last refresh time, the time until bedtime, and Quit.
class FooterView : public QWidget
{
    Q_OBJECT
public:
    struct Input
    {
        bool demoMode = false;
        // Leaves the "Demo data" label out (screenshots).
        bool capture = false;
        // The published word on the last refresh.
        QString updated;
        std::optional<double> timeUntilBedtime;
    };

    explicit FooterView(QWidget* parent = nullptr);
    void setInput(const Input& input);

    [[nodiscard]] QString statusText() const;
    // A short line in the status's place for a few seconds: what an action just did, or why not.
    void showNotice(const QString& text);
    // Empty when none shows.
    [[nodiscard]] QString noticeText() const;
    // Empty while hidden.
    [[nodiscard]] QString bedtimeText() const;

Q_SIGNALS:
    void quitRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_statusIcon;
    QLabel* m_status;
    QLabel* m_bedtimeIcon;
    QLabel* m_bedtime;
    QLabel* m_notice;
    QTimer* m_noticeTimer;
};
