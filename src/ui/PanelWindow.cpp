#include "ui/PanelWindow.h"

#include "platform/gui/X11WindowState.h"
#include "ui/GaugeIcon.h"
#include "ui/PlainText.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

PanelWindow::PanelWindow(QWidget* content, QWidget* dragHandle, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_content(content),
      m_dragHandle(dragHandle)
{
    setWindowTitle(QStringLiteral("Tallyvane"));
    setObjectName(QStringLiteral("TallyvanePanel"));
    // Without a window frame the panel needs an edge of its own to stand out from what lies behind it.
    auto* frame = new QFrame(this);
    m_frame = frame;
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->setSpacing(0);
    m_notice = new QWidget;
    m_notice->setObjectName(QStringLiteral("NoTrayNotice"));
    auto* noticeRow = new QHBoxLayout(m_notice);
    noticeRow->setContentsMargins(12, 6, 8, 6);
    auto* noticeText = PlainText::label();
    m_noticeText = noticeText;
    noticeText->setWordWrap(true);
    auto* dismissNotice = new QPushButton(QStringLiteral("Don't show again"));
    dismissNotice->setObjectName(QStringLiteral("dontShowAgain"));
    connect(dismissNotice, &QPushButton::clicked, this, [this] {
        setNoTrayNoticeShown(false);
        Q_EMIT noTrayNoticeDismissed();
    });
    noticeRow->addWidget(noticeText, 1);
    noticeRow->addWidget(dismissNotice);
    m_notice->hide();
    inner->addWidget(m_notice);
    inner->addWidget(content);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);
    if (m_dragHandle) {
        m_dragHandle->installEventFilter(this);
        m_dragHandle->setCursor(Qt::OpenHandCursor);
    }
}

void PanelWindow::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    dismiss();
    m_mode = mode;
    if (mode == Mode::window) {
        setWindowFlags(Qt::Window);
        // The installed icon where there is one; the drawn gauge otherwise (a build run in place).
        setWindowIcon(QIcon::fromTheme(QStringLiteral("io.github.tallyvane.Tallyvane"),
                                       GaugeIcon::icon(ForecastStatus::unknown)));
    } else {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    }
    m_notice->setVisible(m_mode == Mode::window && m_noticeWanted);
}

void PanelWindow::setNoTrayNoticeShown(bool shown)
{
    m_noticeWanted = shown;
    m_notice->setVisible(m_mode == Mode::window && shown);
}

void PanelWindow::setNoTrayNoticeText(const QString& text)
{
    m_noticeText->setText(text);
}

QString PanelWindow::noTrayNoticeText() const
{
    return m_noticeText->text();
}

int PanelWindow::chromeHeight() const
{
    const int notice = isNoTrayNoticeShown() ? m_notice->heightForWidth(width()) : 0;
    return 2 * (m_frame->frameWidth() + 1) + std::max(0, notice);
}

bool PanelWindow::isNoTrayNoticeShown() const
{
    return m_mode == Mode::window && m_noticeWanted;
}

void PanelWindow::present(const QRect& frame)
{
    setGeometry(frame);
    // Withdrawing the window may have cleared its state: set it again before every mapping.
    if (m_mode == Mode::popup)
        X11WindowState::skipTaskbarAndPager(this);
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
    switch (event->type()) {
    case QEvent::WindowDeactivate:
        // A window manager that moves the panel holds the pointer and keyboard meanwhile: no real focus loss.
        // A normal window stays open like any other.
        if (m_mode == Mode::popup && isVisible() && !m_dismissing && !m_moving && !ownsActiveWindow()) {
            m_sinceFocusLoss.start();
            hide();
        }
        break;
    case QEvent::WindowActivate:
        endMove(false);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool PanelWindow::ownsActiveWindow() const
{
    // A dialog of the panel's own (the reset confirmation) takes the focus without closing the panel.
    for (const QWidget* window = QApplication::activeWindow(); window; window = window->parentWidget())
        if (window == this)
            return window != QApplication::activeWindow();
    return false;
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == windowHandle()) {
        // The pointer is ours again with the button up: the window manager has finished the move. (Motion
        // of the drag itself, queued before the window manager took over, still has the button down.)
        if (type == QEvent::MouseMove || type == QEvent::MouseButtonPress) {
            if (static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton ||
                type == QEvent::MouseButtonPress)
                endMove(true);
        }
        return false;
    }
    const bool mouseEvent =
        type == QEvent::MouseButtonPress || type == QEvent::MouseMove || type == QEvent::MouseButtonRelease;
    if (watched != m_dragHandle || !mouseEvent)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        m_pressedAt = mouse->globalPosition();
    } else if (type == QEvent::MouseMove && m_pressedAt && (mouse->buttons() & Qt::LeftButton)) {
        if ((mouse->globalPosition() - *m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
            m_pressedAt.reset();
            startMove();
            return true;
        }
    } else if (type == QEvent::MouseButtonRelease) {
        m_pressedAt.reset();
    }
    return false;
}

void PanelWindow::startMove()
{
    QWindow* window = windowHandle();
    if (!window || !window->startSystemMove())
        return;
    m_moving = true;
    window->installEventFilter(this);
}

void PanelWindow::endMove(bool refocus)
{
    if (!m_moving)
        return;
    m_moving = false;
    if (QWindow* window = windowHandle())
        window->removeEventFilter(this);
    // Focus lost to the move and not given back: take it, so that a click elsewhere closes the panel again.
    if (refocus && !isActiveWindow())
        activateWindow();
}

void PanelWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::hideEvent(QHideEvent* event)
{
    m_pressedAt.reset();
    endMove(false);
    QWidget::hideEvent(event);
    Q_EMIT hidden();
}
