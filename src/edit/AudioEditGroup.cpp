#include "AudioEditGroup.h"

#include "AudioEditNormalize.h"
#include "EditableAudioCache.h"

#include <QMutexLocker>

#include <algorithm>
#include <functional>

AudioEditGroup::AudioEditGroup(const QWeakPointer<EditableAudioCache> &editableCache)
    : AudioEdit(QObject::tr("Group"), QColor(61, 178, 51, 255)), m_editableCache(editableCache)
{
}

AudioEditPtr AudioEditGroup::clone() const
{
    auto copy = QSharedPointer<AudioEditGroup>(new AudioEditGroup(m_editableCache));
    copyCommonFieldsTo(*copy);
    copy->m_members = m_members;
    for (const AudioEditPtr &member : m_members)
        copy->watchMember(member);
    return copy;
}

float AudioEditGroup::processSample(int sampleIndex, float value)
{
    for (int k = m_members.size() - 1; k >= 0; --k) {
        AudioEdit *member = m_members.at(k).data();
        if (member->covers(sampleIndex))
            value = member->processSample(sampleIndex, value);
    }
    return value;
}

void AudioEditGroup::setStartSample(int startSample)
{
    AudioEdit::setStartSample(startSample);
    for (int k = m_members.size() - 1; k >= 0; --k)
        m_members.at(k)->setStartSample(startSample);
}

void AudioEditGroup::setEndSample(int endSample)
{
    AudioEdit::setEndSample(endSample);
    for (int k = m_members.size() - 1; k >= 0; --k)
        m_members.at(k)->setEndSample(endSample);
}

void AudioEditGroup::setRange(int startSample, int endSample)
{
    AudioEdit::setRange(startSample, endSample);
    for (int k = m_members.size() - 1; k >= 0; --k)
        m_members.at(k)->setRange(startSample, endSample);
}

void AudioEditGroup::setEditableCache(const QWeakPointer<EditableAudioCache> &editableCache)
{
    m_editableCache = editableCache;
    for (const AudioEditPtr &member : qAsConst(m_members))
        if (auto group = member.objectCast<AudioEditGroup>())
            group->setEditableCache(editableCache);
}

void AudioEditGroup::watchMember(const AudioEditPtr &edit)
{
    // A member's own change (a gain dragged, a normalize analysed) re-renders through the group.
    connect(edit.data(), &AudioEdit::regionModified, this, &AudioEdit::regionModified, Qt::UniqueConnection);
    // What it does reaches the Normalizes of this group processed after it, which the cache
    // cannot tell apart from the group's other members: they are asked for a new analysis
    // here. A Normalize's own new gain changes nothing for the others (heard at unity).
    if (edit->type() != TypeNormalize)
        connect(edit.data(), &AudioEdit::regionModified, this, &AudioEditGroup::slotMemberModified,
                Qt::UniqueConnection);
}

void AudioEditGroup::slotMemberModified(const int startSample, const int endSample)
{
    const auto *member = qobject_cast<const AudioEdit *>(sender());
    int index = -1;
    for (int k = 0; k < m_members.size(); ++k)
        if (m_members.at(k).data() == member)
            index = k;
    reanalyseMembersAfter(index, startSample, endSample);
}

void AudioEditGroup::reanalyseMembersAfter(int index, int startSample, int endSample)
{
    // Members run from the last to the first: those before index are processed after it.
    QVector<QSharedPointer<AudioEditNormalize>> stale;
    std::function<void(const QVector<AudioEditPtr> &, int)> collect = [&](const QVector<AudioEditPtr> &members,
                                                                          int count) {
        for (int k = 0; k < std::min(count, int(members.size())); ++k) {
            const AudioEditPtr &edit = members.at(k);
            if (edit->endSample() < startSample || edit->startSample() > endSample)
                continue;
            if (auto group = edit.objectCast<AudioEditGroup>()) {
                const QVector<AudioEditPtr> inner = group->members();
                collect(inner, int(inner.size()));
            } else if (auto normalize = edit.objectCast<AudioEditNormalize>()) {
                stale.append(normalize);
            }
        }
    };
    collect(m_members, index);
    for (const auto &normalize : qAsConst(stale))
        normalize->requestAnalysis();
}

void AudioEditGroup::addEdit(const AudioEditPtr &edit)
{
    if (!edit || edit.data() == this)
        return;
    if (auto group = edit.objectCast<AudioEditGroup>())
        group->setEditableCache(m_editableCache);
    {
        const QSharedPointer<EditableAudioCache> cache = m_editableCache.toStrongRef();
        QMutexLocker lock(cache ? cache->editLock() : nullptr);
        m_members.prepend(edit);
    }
    watchMember(edit);
    emit editAdded(edit);
    emit regionModified(edit->startSample(), edit->endSample());
}

void AudioEditGroup::removeEdit(const AudioEditPtr &member)
{
    // Our own reference: the caller's may be the very entry we remove.
    const AudioEditPtr edit = member;
    if (!edit)
        return;
    bool removed = false;
    int removedAt = 0;
    {
        const QSharedPointer<EditableAudioCache> cache = m_editableCache.toStrongRef();
        QMutexLocker lock(cache ? cache->editLock() : nullptr);
        for (int k = 0; k < m_members.size(); ++k) {
            if (m_members.at(k) == edit) {
                m_members.removeAt(k);
                removedAt = k;
                removed = true;
                break;
            }
        }
    }
    if (!removed)
        return;
    disconnect(edit.data(), &AudioEdit::regionModified, this, &AudioEdit::regionModified);
    disconnect(edit.data(), &AudioEdit::regionModified, this, &AudioEditGroup::slotMemberModified);
    // The Normalizes that were processed after it no longer hear it.
    if (edit->type() != TypeNormalize)
        reanalyseMembersAfter(removedAt, edit->startSample(), edit->endSample());
    emit editRemoved(edit);
    emit regionModified(edit->startSample(), edit->endSample());
}
