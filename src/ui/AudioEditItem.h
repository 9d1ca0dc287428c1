#pragma once

#include "AudioEdit.h"

#include <QObject>
#include <QRect>
#include <QStaticText>

class QFont;
class QPainter;
class QPixmap;
class SampleRenderer;

// One edit drawn over the edit view's waveform: a 20-pixel header with the edit's name over
// a body in the edit's colour, and a progress pie while the edit is being analysed. Items are
// not widgets: the view owns them (as their QObject parent), paints them in its own paint event and hands
// them its mouse events (positions in view coordinates).
class AudioEditItem : public QObject {
    Q_OBJECT
public:
    static constexpr int kHeaderHeight = 20;

    AudioEditItem(const AudioEditPtr &edit, SampleRenderer *view);
    ~AudioEditItem() override;

    AudioEditPtr edit() const { return m_edit; }
    SampleRenderer *view() const { return m_pView; }

    // Places the item over its edit's region in the view's current window.
    virtual void updateGeometry();
    // Places the item in a given rectangle (members inside a group).
    virtual void setGeometry(const QRect &rect);
    QRect rect() const { return m_rect; }
    QRect headerRect() const { return m_headerRect; }

    bool contains(const QPoint &pos) const;
    bool isNearLeftEdge(const QPoint &pos, int tolerance) const;
    bool isNearRightEdge(const QPoint &pos, int tolerance) const;
    bool isNearEdge(const QPoint &pos, int tolerance) const;

    // Hidden by the user, or an edit that has no item at all (Delete, the mute of a cut).
    bool isHidden() const;
    bool isSelected() const;
    void setSelected(bool selected);

    // The edit's range when the mouse was pressed, the origin of every drag.
    void rememberRange();
    int pressStart() const { return m_iPressStart; }
    int pressEnd() const { return m_iPressEnd; }

    bool isCollapsed() const { return m_bCollapsed; }
    void setCollapsed(bool collapsed);
    bool isHeaderPressed() const { return m_bHeaderPressed; }
    float progress() const { return m_fProgress; }

    virtual void paint(QPainter *painter);
    // Returns true when the item takes the press for a drag of its own (the gain handle).
    virtual bool mousePress(const QPoint &pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    virtual void mouseMove(const QPoint &pos, Qt::MouseButtons buttons);
    virtual void mouseRelease(const QPoint &pos, Qt::MouseButton button);
    // The cursor the view shows while the mouse hovers at pos over this item.
    virtual Qt::CursorShape cursorAt(const QPoint &pos) const;

signals:
    void expanded(AudioEditItem *item);

public slots:
    void updateProgressPie(float fFraction);
    void hideProgressPie();

protected:
    static QFont &font();
    static QPixmap &headerPixmap();
    static QPixmap &shadowPixmap();
    void paintFrame(QPainter *painter);
    // The part of the item inside the view's width.
    QRect visibleRect() const;
    void requestRepaint();

    AudioEditPtr m_edit;
    SampleRenderer *m_pView;
    QRect m_rect;
    QRect m_headerRect;
    bool m_bCollapsed = false;
    bool m_bHeaderPressed = false;
    QStaticText m_nameLabel;
    float m_fProgress = 0.0f;
    int m_iPressStart = 0;
    int m_iPressEnd = 0;
    int m_iOutlineAdjust = 1;
    int m_iOutlineOffset = 0;
};
