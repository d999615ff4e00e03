#include "ui/FocusRing.h"

#include <QAbstractScrollArea>
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

// The ring around `focus` in `host`'s coordinates.
QRect ringIn(const QWidget* focus, const QWidget* host)
{
    return QRect(focus->mapTo(host, QPoint(0, 0)), focus->size()).adjusted(-kGap, -kGap, kGap, kGap);
}

// The nearest ancestor that holds the ring whole (a control flush with its parent's edges would show only
// the ring's corners), short of the scope and of a scrolled column, so that the ring still scrolls with it.
QWidget* hostFor(QWidget* focus, const QWidget* scope)
{
    QWidget* host = focus->parentWidget();
    while (host != scope && !host->rect().contains(ringIn(focus, host))) {
        QWidget* up = host->parentWidget();
        // A column's content sits in a scroll area's viewport: the ring stays with the content.
        if (!up || qobject_cast<QAbstractScrollArea*>(up->parentWidget()))
            break;
        host = up;
    }
    return host;
}

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
    // Only Tab stops: a page that holds the focus for its keys gets no ring around all of it.
    const bool inside = focus && m_scope->isAncestorOf(focus) && focus->parentWidget() &&
                        (focus->focusPolicy() & Qt::TabFocus);
    if (!inside || !focus->window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        if (m_ring)
            m_ring->hide();
        return;
    }
    m_target = focus;
    QWidget* host = hostFor(focus, m_scope);
    if (!m_ring)
        m_ring = new RingWidget(host);
    else if (m_ring->parentWidget() != host)
        m_ring->setParent(host);
    focus->installEventFilter(this);
    place();
    m_ring->show();
    m_ring->raise();
}

void FocusRing::place()
{
    if (m_target && m_ring)
        m_ring->setGeometry(ringIn(m_target, m_ring->parentWidget()));
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
