#include "AudioEditItemGroup.h"

#include "AudioEditGroup.h"
#include "AudioEditItemFactory.h"
#include "Invariant.h"
#include "SampleRenderer.h"
#include "UiLogging.h"

#include <QPainter>

#include <algorithm>

AudioEditItemGroup::AudioEditItemGroup(const AudioEditPtr &edit, SampleRenderer *view)
    : AudioEditItem(edit, view), m_groupEdit(edit.objectCast<AudioEditGroup>()) {
    // The item factory makes group items for group edits only.
    if (!INVARIANT_HOLDS(lcUi, m_groupEdit))
        return;
    connect(m_groupEdit.data(), &AudioEditGroup::editAdded, this, &AudioEditItemGroup::addEditItem);
    connect(m_groupEdit.data(), &AudioEditGroup::editRemoved, this, &AudioEditItemGroup::removeEditItem);
    // A pasted or re-added group already has members; the last member is added last, so
    // the vector ends in the group's own order.
    const QVector<AudioEditPtr> members = m_groupEdit->members();
    for (int k = members.size() - 1; k >= 0; --k)
        addEditItem(members.at(k));
}

AudioEditItemGroup::~AudioEditItemGroup() {
    qDeleteAll(m_memberItems);
}

void AudioEditItemGroup::addEditItem(AudioEditPtr pEdit) {
    if (!pEdit)
        return;
    AudioEditItem *item = AudioEditItemFactory::createItem(pEdit, m_pView);
    m_memberItems.prepend(item);
    connect(item, &AudioEditItem::expanded, this, &AudioEditItemGroup::itemExpanded);
    layoutMembers();
    requestRepaint();
}

void AudioEditItemGroup::removeEditItem(AudioEditPtr pEdit) {
    for (int k = 0; k < m_memberItems.size(); ++k) {
        if (m_memberItems.at(k)->edit() == pEdit) {
            // Later: this may run inside a press handed down to the very item.
            m_memberItems.takeAt(k)->deleteLater();
            break;
        }
    }
    layoutMembers();
    requestRepaint();
}

void AudioEditItemGroup::itemExpanded(AudioEditItem *pItem) {
    for (AudioEditItem *item : qAsConst(m_memberItems))
        if (item != pItem)
            item->setCollapsed(true);
    layoutMembers();
    requestRepaint();
}

void AudioEditItemGroup::setGeometry(const QRect &rect) {
    AudioEditItem::setGeometry(rect);
    layoutMembers();
}

void AudioEditItemGroup::layoutMembers() {
    QVector<AudioEditItem *> shown;
    for (AudioEditItem *item : qAsConst(m_memberItems))
        if (!item->isHidden())
            shown.append(item);
    if (shown.isEmpty())
        return;
    int collapsed = 0;
    for (AudioEditItem *item : qAsConst(shown))
        collapsed += item->isCollapsed() ? 1 : 0;
    const int expanded = shown.size() - collapsed;
    // What is left under the group's header, one pixel between members.
    const int available = m_rect.height() - kHeaderHeight - shown.size() - collapsed * kHeaderHeight;
    const int expandedHeight = expanded > 0 ? std::max(kHeaderHeight, available / expanded) : kHeaderHeight;
    int y = m_rect.top() + kHeaderHeight + 1;
    for (int k = shown.size() - 1; k >= 0; --k) {
        AudioEditItem *item = shown.at(k);
        const int h = item->isCollapsed() ? kHeaderHeight : expandedHeight;
        item->setGeometry(QRect(m_rect.left() + 1, y, std::max(1, m_rect.width() - 2), h));
        y += h + 1;
    }
}

void AudioEditItemGroup::paint(QPainter *painter) {
    AudioEditItem::paint(painter);
    if (m_bCollapsed)
        return;
    layoutMembers();
    painter->save();
    painter->setClipRect(m_rect, Qt::IntersectClip);
    for (int k = m_memberItems.size() - 1; k >= 0; --k) {
        AudioEditItem *item = m_memberItems.at(k);
        if (!item->isHidden())
            item->paint(painter);
    }
    painter->restore();
}

bool AudioEditItemGroup::mousePress(const QPoint &pos, Qt::MouseButton button,
                                    Qt::KeyboardModifiers modifiers) {
    m_pressPosition = pos;
    bool taken = false;
    // A copy: a member's press may change the member list.
    const QVector<AudioEditItem *> members = m_memberItems;
    for (AudioEditItem *item : members)
        if (!item->isHidden() && item->contains(pos))
            taken = item->mousePress(pos, button, modifiers) || taken;
    if (!taken)
        AudioEditItem::mousePress(pos, button, modifiers);
    return taken;
}

void AudioEditItemGroup::mouseMove(const QPoint &pos, Qt::MouseButtons buttons) {
    const QVector<AudioEditItem *> members = m_memberItems;
    for (AudioEditItem *item : members)
        if (item->contains(pos) || (buttons & Qt::LeftButton))
            item->mouseMove(pos, buttons);
}

void AudioEditItemGroup::mouseRelease(const QPoint &pos, Qt::MouseButton button) {
    m_pressPosition = QPoint(-1, -1);
    const QVector<AudioEditItem *> members = m_memberItems;
    for (AudioEditItem *item : members)
        item->mouseRelease(pos, button);
    AudioEditItem::mouseRelease(pos, button);
}

Qt::CursorShape AudioEditItemGroup::cursorAt(const QPoint &pos) const {
    for (AudioEditItem *item : m_memberItems)
        if (!item->isHidden() && item->contains(pos))
            return item->cursorAt(pos);
    return AudioEditItem::cursorAt(pos);
}
