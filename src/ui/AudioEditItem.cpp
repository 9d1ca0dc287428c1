#include "AudioEditItem.h"

#include "SampleRenderer.h"
#include "UiLogging.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>

AudioEditItem::AudioEditItem(const AudioEditPtr &edit, SampleRenderer *view)
    : QObject(view), m_edit(edit), m_pView(view), m_nameLabel(edit ? edit->name() : QString()) {
    m_nameLabel.setTextFormat(Qt::PlainText);
    m_nameLabel.prepare(QTransform(), font());
    if (m_edit) {
        if (m_pView)
            // Unique: items of the same edit come and go (undo, redo) while the view stays.
            connect(m_edit.data(), &AudioEdit::visibilityChanged, m_pView,
                    static_cast<void (QWidget::*)()>(&QWidget::update), Qt::UniqueConnection);
        // Analysis runs on the edit worker's thread: these arrive queued.
        connect(m_edit.data(), &AudioEdit::analysisProgress, this, &AudioEditItem::updateProgressPie);
        connect(m_edit.data(), &AudioEdit::analysisFinished, this, &AudioEditItem::hideProgressPie);
    }
}

AudioEditItem::~AudioEditItem() = default;

QFont &AudioEditItem::font() {
    static QFont *shared = [] {
        auto *f = new QFont;
        f->setPointSize(10);
        return f;
    }();
    return *shared;
}

QPixmap &AudioEditItem::headerPixmap() {
    static QPixmap *shared =
        new QPixmap(qApp && qApp->devicePixelRatio() > 1.0 ? QStringLiteral(":/edit_header@2x.png")
                                                           : QStringLiteral(":/edit_header.png"));
    return *shared;
}

QPixmap &AudioEditItem::shadowPixmap() {
    static QPixmap *shared =
        new QPixmap(qApp && qApp->devicePixelRatio() > 1.0 ? QStringLiteral(":/edit_shadow@2x.png")
                                                           : QStringLiteral(":/edit_shadow.png"));
    return *shared;
}

void AudioEditItem::updateGeometry() {
    if (!m_pView || !m_edit)
        return;
    const int left = m_pView->drawingX(m_edit->startSample());
    const int right = m_pView->drawingX(m_edit->endSample()) - 1;
    setGeometry(QRect(QPoint(left, 0), QPoint(std::max(left, right), std::max(0, m_pView->height() - 2))));
}

void AudioEditItem::setGeometry(const QRect &rect) {
    m_rect = rect;
    m_headerRect = QRect(rect.left(), rect.top(), rect.width(), std::min(kHeaderHeight, rect.height()));
}

bool AudioEditItem::contains(const QPoint &pos) const {
    return m_rect.contains(pos);
}

bool AudioEditItem::isNearLeftEdge(const QPoint &pos, int tolerance) const {
    return pos.y() >= m_rect.top() && pos.y() <= m_rect.bottom() &&
           std::abs(pos.x() - m_rect.left()) <= tolerance;
}

bool AudioEditItem::isNearRightEdge(const QPoint &pos, int tolerance) const {
    return pos.y() >= m_rect.top() && pos.y() <= m_rect.bottom() &&
           std::abs(pos.x() - m_rect.right()) <= tolerance;
}

bool AudioEditItem::isNearEdge(const QPoint &pos, int tolerance) const {
    return isNearLeftEdge(pos, tolerance) || isNearRightEdge(pos, tolerance);
}

bool AudioEditItem::isHidden() const {
    return !m_edit || m_edit->isHidden() || !m_edit->showsItem();
}

bool AudioEditItem::isSelected() const {
    return m_edit && m_edit->isSelected();
}

void AudioEditItem::setSelected(bool selected) {
    if (m_edit)
        m_edit->setSelected(selected);
}

void AudioEditItem::rememberRange() {
    if (!m_edit)
        return;
    m_iPressStart = m_edit->startSample();
    m_iPressEnd = m_edit->endSample();
}

void AudioEditItem::setCollapsed(bool collapsed) {
    if (m_bCollapsed == collapsed)
        return;
    m_bCollapsed = collapsed;
    requestRepaint();
}

void AudioEditItem::requestRepaint() {
    if (m_pView)
        m_pView->update();
}

void AudioEditItem::updateProgressPie(float fFraction) {
    m_fProgress = fFraction;
    requestRepaint();
}

void AudioEditItem::hideProgressPie() {
    m_fProgress = 0.0f;
    requestRepaint();
}

void AudioEditItem::paintFrame(QPainter *painter) {
    const bool selected = isSelected();
    const QColor outline = selected ? QColor(255, 255, 255) : QColor(128, 128, 128);
    const QColor text(236, 236, 236);
    const QColor dark = selected ? QColor(100, 100, 100) : QColor(0, 0, 0);
    const QColor colour = m_edit->color();
    const QRect r = m_rect;

    if (!m_bCollapsed && r.height() > kHeaderHeight) {
        // The body, in the edit's colour, starts under the header's rounded lower edge.
        const QRect body(r.left() + 1, r.top() + kHeaderHeight - 2, std::max(0, r.width() - 2),
                         r.height() - (kHeaderHeight - 2));
        painter->fillRect(body, colour);
        QColor shade = colour.toHsl();
        shade.setHsl(shade.hslHue(), shade.hslSaturation(), shade.lightness() / 2, shade.alpha());
        painter->setPen(shade);
        painter->drawLine(body.left(), body.top(), body.right(), body.top());
        painter->setPen(dark);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(body.adjusted(0, 0, -1, -1));
        const QPixmap &shadow = shadowPixmap();
        if (!shadow.isNull())
            painter->drawTiledPixmap(
                QRect(body.left(), body.top() + 1, body.width(),
                      std::min(int(shadow.height() / shadow.devicePixelRatio()), body.height())),
                shadow);
    }

    const QPixmap &header = headerPixmap();
    if (!header.isNull())
        painter->drawTiledPixmap(m_headerRect, header);
    else
        painter->fillRect(m_headerRect, QColor(60, 60, 60));

    painter->setBrush(Qt::NoBrush);
    if (m_bCollapsed) {
        painter->setPen(Qt::black);
        painter->drawRect(m_headerRect.adjusted(0, 0, -m_iOutlineAdjust, -m_iOutlineAdjust));
    } else {
        painter->setPen(outline);
        painter->drawRect(
            r.adjusted(m_iOutlineOffset, m_iOutlineOffset, -m_iOutlineAdjust, -m_iOutlineAdjust));
    }

    // Grips on the edges of a selected item: that is where it is resized.
    if (selected && !m_bCollapsed && r.width() > 24 && r.height() > kHeaderHeight + 30) {
        const int middle = r.top() + kHeaderHeight + (r.height() - kHeaderHeight) / 2;
        painter->setPen(QColor(255, 255, 255, 200));
        for (int x : {r.left() + 3, r.left() + 5, r.right() - 3, r.right() - 5})
            painter->drawLine(x, middle - 12, x, middle + 12);
    }

    // The name stays in sight when the item's start lies left of the view.
    const QRect shown = visibleRect();
    if (shown.width() > int(m_nameLabel.size().width()) + 4) {
        const int y = m_headerRect.top() + (kHeaderHeight - int(m_nameLabel.size().height())) / 2;
        painter->setFont(font());
        painter->setPen(Qt::black);
        painter->drawStaticText(shown.left() + 5 + 1, y + 1, m_nameLabel);
        painter->setPen(text);
        painter->drawStaticText(shown.left() + 5, y, m_nameLabel);
    }

    if (m_fProgress > 0.0f && r.width() > 16) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, true);
        painter->setPen(Qt::white);
        painter->setBrush(Qt::white);
        painter->drawPie(QRect(r.right() - 19, r.top() + kHeaderHeight + 3, 16, 16), 1440,
                         -int(m_fProgress * 360.0f * 16.0f));
        painter->restore();
    }
}

QRect AudioEditItem::visibleRect() const {
    if (!m_pView)
        return m_rect;
    return m_rect.intersected(QRect(0, m_rect.top(), m_pView->width(), m_rect.height()));
}

void AudioEditItem::paint(QPainter *painter) {
    if (!m_edit)
        return;
    paintFrame(painter);
}

bool AudioEditItem::mousePress(const QPoint &pos, Qt::MouseButton button, Qt::KeyboardModifiers) {
    if (button == Qt::LeftButton && m_headerRect.contains(pos)) {
        m_bHeaderPressed = true;
        qCDebug(lcUi) << "clicked header";
        // Inside a group, clicking a member's header opens it and folds the other members.
        setCollapsed(false);
        emit expanded(this);
    }
    return false;
}

void AudioEditItem::mouseMove(const QPoint &, Qt::MouseButtons) {}

void AudioEditItem::mouseRelease(const QPoint &, Qt::MouseButton) {
    if (!m_bHeaderPressed)
        return;
    m_bHeaderPressed = false;
    requestRepaint();
}

Qt::CursorShape AudioEditItem::cursorAt(const QPoint &) const {
    return Qt::ArrowCursor;
}
