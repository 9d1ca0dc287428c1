#include "AudioEditItemGain.h"

#include "AudioEditGain.h"
#include "SampleRendererEditor.h"
#include "SetEditGainCommand.h"

#include <QPainter>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <cmath>

AudioEditItemGain::AudioEditItemGain(const AudioEditPtr &edit, SampleRenderer *view)
    : AudioEditItem(edit, view), m_gainEdit(edit.objectCast<AudioEditGain>()),
      m_handleMiddle(QStringLiteral(":/edit_handle1.png")),
      m_handleCaps(QStringLiteral(":/edit_handle2.png")) {
    m_gainLabel.setTextFormat(Qt::PlainText);
    refreshLabel();
    // A gain changed by undo or by a paste of another item shows at once.
    if (m_gainEdit)
        connect(m_gainEdit.data(), &AudioEdit::regionModified, this, [this]() {
            refreshLabel();
            requestRepaint();
        });
}

AudioEditItemGain::~AudioEditItemGain() = default;

float AudioEditItemGain::handleValueForGain(float gain) {
    if (gain <= 1.0f)
        return gain;
    return float(std::log(gain / 1.3)) + 1.0f;
}

float AudioEditItemGain::gainForHandleValue(float value) {
    if (value <= 1.0f)
        return value;
    return float(1.3 * std::exp(double(value) - 1.0));
}

QString AudioEditItemGain::gainLabel(float gain) {
    if (!(gain > 0.0f))
        return tr("-inf dB");
    return tr("%1 dB").arg(20.0 * std::log10(double(gain)), 0, 'f', 2);
}

void AudioEditItemGain::refreshLabel() {
    const float gain = m_gainEdit ? m_gainEdit->gain() : 1.0f;
    m_fValue = handleValueForGain(gain);
    m_gainLabel.setText(gainLabel(gain));
    m_gainLabel.prepare(QTransform(), font());
}

int AudioEditItemGain::handleY() const {
    const int height = m_rect.height();
    const double area = std::max(height * double(m_fValue) * 0.5, double(m_rect.top() + kHeaderHeight));
    // Never above the header, never below the item.
    const int y = m_rect.bottom() - int(area);
    return std::clamp(y, m_rect.top() + kHeaderHeight,
                      std::max(m_rect.top() + kHeaderHeight, m_rect.bottom()));
}

bool AudioEditItemGain::hitsHandle(const QPoint &pos) const {
    return !m_bCollapsed && m_rect.contains(pos) && std::abs(pos.y() - handleY()) <= kHandleTolerance;
}

QRect AudioEditItemGain::labelRect() const {
    // Clear of the handle's band, so dragging never hides the number being set.
    if (m_bCollapsed || m_rect.height() <= kHeaderHeight)
        return QRect();
    const QSizeF size = m_gainLabel.size();
    const QRect shown = visibleRect();
    const int y = handleY();
    const int plateHeight = int(std::ceil(size.height())) + 2;
    int top = y + kHeaderHeight / 2 + 3;
    if (top + plateHeight > m_rect.bottom())
        top = y - kHeaderHeight / 2 - 3 - plateHeight;
    if (shown.width() <= size.width() + 12 || top < m_rect.top() + kHeaderHeight ||
        top + plateHeight > m_rect.bottom())
        return QRect();
    return QRect(shown.left() + 3, top, int(std::ceil(size.width())) + 6, plateHeight);
}

void AudioEditItemGain::paint(QPainter *painter) {
    AudioEditItem::paint(painter);
    if (m_bCollapsed || m_rect.height() <= kHeaderHeight)
        return;
    const int y = handleY();
    const QRect area(m_rect.left() + 1, y, std::max(0, m_rect.width() - 2), m_rect.bottom() - y + 1);
    painter->fillRect(area, QColor(255, 255, 255, 40));

    if (m_rect.width() > 32) {
        const QRect handle(m_rect.left(), y - kHeaderHeight / 2, m_rect.width(), kHeaderHeight);
        if (!m_handleMiddle.isNull())
            painter->drawTiledPixmap(handle.adjusted(11, 0, -11, 0), m_handleMiddle);
        if (!m_handleCaps.isNull()) {
            const int capWidth = m_handleCaps.width() / 2;
            painter->drawPixmap(QRect(handle.left() + 5, handle.top(), 6, kHeaderHeight), m_handleCaps,
                                QRect(0, 0, capWidth, m_handleCaps.height()));
            painter->drawPixmap(QRect(handle.right() - 10, handle.top(), 6, kHeaderHeight), m_handleCaps,
                                QRect(capWidth, 0, capWidth, m_handleCaps.height()));
        }
    } else {
        painter->setPen(Qt::white);
        painter->drawLine(m_rect.left(), y, m_rect.right(), y);
    }

    // The view paints unselected edits half transparent, over the waveform; the value
    // keeps full opacity on a dark plate so that it reads on any colour.
    const QRect plate = labelRect();
    if (!plate.isEmpty()) {
        painter->save();
        painter->setOpacity(1.0);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(20, 20, 20, 200));
        painter->drawRoundedRect(plate, 3, 3);
        painter->setFont(font());
        painter->setPen(QColor(245, 245, 245));
        painter->drawStaticText(QPoint(plate.left() + 3, plate.top() + 1), m_gainLabel);
        painter->restore();
    }
}

bool AudioEditItemGain::mousePress(const QPoint &pos, Qt::MouseButton button,
                                   Qt::KeyboardModifiers modifiers) {
    if (button == Qt::LeftButton && hitsHandle(pos)) {
        m_bDragging = true;
        m_pressPosition = pos;
        m_fPressValue = m_fValue;
        m_fPressGain = m_gainEdit ? m_gainEdit->gain() : 1.0f;
        return true;
    }
    return AudioEditItem::mousePress(pos, button, modifiers);
}

void AudioEditItemGain::mouseMove(const QPoint &pos, Qt::MouseButtons buttons) {
    if (!m_bDragging || !(buttons & Qt::LeftButton) || !m_gainEdit)
        return;
    const int height = std::max(1, m_rect.height());
    const int y = std::max(pos.y(), m_rect.top() + kHeaderHeight);
    // Dragged far down the value would go below 0: silence is as low as a gain goes.
    const float value = std::max(0.0f, m_fPressValue - float(y - m_pressPosition.y()) / float(height) * 2.0f);
    const float gain = gainForHandleValue(value);
    m_gainEdit->setGain(gain);
    m_fValue = value;
    m_gainLabel.setText(gainLabel(gain));
    m_gainLabel.prepare(QTransform(), font());
    requestRepaint();
}

void AudioEditItemGain::mouseRelease(const QPoint &pos, Qt::MouseButton button) {
    if (button == Qt::LeftButton && m_bDragging) {
        m_bDragging = false;
        // The whole drag becomes one undo step.
        auto *editor = qobject_cast<SampleRendererEditor *>(view());
        if (m_gainEdit && m_gainEdit->gain() != m_fPressGain && editor && editor->undoStack())
            editor->undoStack()->push(new SetEditGainCommand(m_gainEdit, m_fPressGain, m_gainEdit->gain()));
    }
    AudioEditItem::mouseRelease(pos, button);
}

Qt::CursorShape AudioEditItemGain::cursorAt(const QPoint &pos) const {
    return hitsHandle(pos) || m_bDragging ? Qt::SizeVerCursor : AudioEditItem::cursorAt(pos);
}
