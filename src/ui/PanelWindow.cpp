#include "ui/PanelWindow.h"

#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWindow>

PanelWindow::PanelWindow(QWidget* content, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Tallyvane"));
    setObjectName(QStringLiteral("TallyvanePanel"));
    // Without a window frame the panel needs an edge of its own to stand out from what lies behind it.
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->addWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
}

void PanelWindow::present(const QRect& frame)
{
    setGeometry(frame);
    show();
    raise();
    activateWindow();
}

void PanelWindow::dismiss()
{
    m_dismissing = true;
    hide();
    m_dismissing = false;
}

bool PanelWindow::wasVisibleWithin(int milliseconds) const
{
    if (isVisible())
        return true;
    return m_sinceFocusLoss.isValid() && m_sinceFocusLoss.elapsed() < milliseconds;
}

bool PanelWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate && isVisible() && !m_dismissing) {
        m_sinceFocusLoss.start();
        hide();
    }
    return QWidget::event(event);
}

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::mousePressEvent(QMouseEvent* event)
{
    // Frameless, the panel moves by its background: the window manager drags it from here.
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    Q_EMIT hidden();
}
