#pragma once

#include "AudioEditItem.h"

#include <QSharedPointer>
#include <QVector>

class AudioEditGroup;

// A group's item: the group's own box, with an item for every member stacked inside it
// (the member added last at the top). Clicking a member's header opens that member and
// folds the others to their headers.
class AudioEditItemGroup : public AudioEditItem {
    Q_OBJECT
public:
    AudioEditItemGroup(const AudioEditPtr &edit, SampleRenderer *view);
    ~AudioEditItemGroup() override;

    const QVector<AudioEditItem *> &memberItems() const { return m_memberItems; }

    void setGeometry(const QRect &rect) override;
    void paint(QPainter *painter) override;
    bool mousePress(const QPoint &pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) override;
    void mouseMove(const QPoint &pos, Qt::MouseButtons buttons) override;
    void mouseRelease(const QPoint &pos, Qt::MouseButton button) override;
    Qt::CursorShape cursorAt(const QPoint &pos) const override;

public slots:
    void addEditItem(AudioEditPtr pEdit);
    void removeEditItem(AudioEditPtr pEdit);
    void itemExpanded(AudioEditItem *pItem);

private:
    void layoutMembers();

    QSharedPointer<AudioEditGroup> m_groupEdit;
    QPoint m_pressPosition{-1, -1};
    QVector<AudioEditItem *> m_memberItems;
};
