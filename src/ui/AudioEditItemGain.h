#pragma once

#include "AudioEditItem.h"

#include <QPixmap>
#include <QSharedPointer>

class AudioEditGain;

// A Gain edit's item: its lower part is a gain area whose top edge is a handle the user drags
// up and down. Up to the middle of the item the gain is linear (0 to 1); above it, it jumps
// to 1.3 and grows exponentially.
class AudioEditItemGain : public AudioEditItem {
    Q_OBJECT
public:
    // The handle is hit within this many pixels above or below it.
    static constexpr int kHandleTolerance = 13;

    AudioEditItemGain(const AudioEditPtr &edit, SampleRenderer *view);
    ~AudioEditItemGain() override;

    // The handle position value of a gain and its inverse.
    static float handleValueForGain(float gain);
    static float gainForHandleValue(float value);
    // "%1 dB", two decimals ("-inf dB" for silence).
    static QString gainLabel(float gain);

    // The y of the handle in view coordinates.
    int handleY() const;
    bool isDragging() const { return m_bDragging; }
    QString label() const { return m_gainLabel.text(); }
    // Where the value is drawn: on a plate below the handle, or above it when the handle
    // is low; empty when the item has no room for it.
    QRect labelRect() const;

    void paint(QPainter *painter) override;
    bool mousePress(const QPoint &pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) override;
    void mouseMove(const QPoint &pos, Qt::MouseButtons buttons) override;
    void mouseRelease(const QPoint &pos, Qt::MouseButton button) override;
    Qt::CursorShape cursorAt(const QPoint &pos) const override;

private:
    bool hitsHandle(const QPoint &pos) const;
    void refreshLabel();

    QSharedPointer<AudioEditGain> m_gainEdit;
    QPoint m_pressPosition;
    bool m_bDragging = false;
    float m_fPressValue = 1.0f;
    float m_fPressGain = 1.0f;
    float m_fValue = 1.0f;
    QStaticText m_gainLabel;
    QPixmap m_handleMiddle;
    QPixmap m_handleCaps;
};
