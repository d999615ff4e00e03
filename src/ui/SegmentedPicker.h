#pragma once

#include <QStringList>
#include <QWidget>

// A row of equal segments, one of them chosen (filled with the highlight colour). One stop in the Tab order;
// Left and Right move the choice, a click picks a segment.
class SegmentedPicker : public QWidget
{
    Q_OBJECT
public:
    explicit SegmentedPicker(QStringList labels, QWidget* parent = nullptr);

    [[nodiscard]] int current() const { return m_current; }
    // Does not emit.
    void setCurrent(int index);
    [[nodiscard]] const QStringList& labels() const { return m_labels; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user picked a different segment.
    void picked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void pick(int index);
    [[nodiscard]] QRectF segment(int index) const;

    QStringList m_labels;
    int m_current = 0;
};
