#include "AudioEditGroup.h"

#include "EditableAudioCache.h"

#include <QMutexLocker>

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
    {
        const QSharedPointer<EditableAudioCache> cache = m_editableCache.toStrongRef();
        QMutexLocker lock(cache ? cache->editLock() : nullptr);
        for (int k = 0; k < m_members.size(); ++k) {
            if (m_members.at(k) == edit) {
                m_members.removeAt(k);
                removed = true;
                break;
            }
        }
    }
    if (!removed)
        return;
    disconnect(edit.data(), &AudioEdit::regionModified, this, &AudioEdit::regionModified);
    emit editRemoved(edit);
    emit regionModified(edit->startSample(), edit->endSample());
}
