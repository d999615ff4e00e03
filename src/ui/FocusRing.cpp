#include "ui/FocusRing.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace {

constexpr int kGap = 3;

class RingWidget final : public QWidget
{
public:
    explicit RingWidget(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("focusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
};

} // namespace

FocusRing::FocusRing(QWidget* scope) : QObject(scope), m_scope(scope)
{
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { follow(now); });
}

QWidget* FocusRing::target() const
{
    return m_ring && m_ring->isVisible() ? m_target.data() : nullptr;
}

void FocusRing::follow(QWidget* focus)
{
    if (m_target)
        m_target->removeEventFilter(this);
    m_target = nullptr;
    const bool inside = focus && m_scope->isAncestorOf(focus) && focus->parentWidget();
    if (!inside || !focus->window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        if (m_ring)
            m_ring->hide();
        return;
    }
    m_target = focus;
    if (!m_ring)
        m_ring = new RingWidget(focus->parentWidget());
    else if (m_ring->parentWidget() != focus->parentWidget())
        m_ring->setParent(focus->parentWidget());
    focus->installEventFilter(this);
    place();
    m_ring->show();
    m_ring->raise();
}

void FocusRing::place()
{
    if (m_target && m_ring)
        m_ring->setGeometry(m_target->geometry().adjusted(-kGap, -kGap, kGap, kGap));
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_target) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            place();
            break;
        case QEvent::Hide:
            if (m_ring)
                m_ring->hide();
            break;
        default:
            break;
        }
    }
    return false;
}
