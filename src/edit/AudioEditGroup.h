#pragma once

#include "AudioEdit.h"

#include <QVector>
#include <QWeakPointer>

class EditableAudioCache;

// Several edits that move together and are applied in the order in which they were added.
// Members change on the GUI thread while the sound-card thread may be applying them: every
// change of the member list takes the lock of the editable cache the group belongs to, which
// the sound-card thread holds while it reads.
class AudioEditGroup : public AudioEdit {
    Q_OBJECT
public:
    explicit AudioEditGroup(const QWeakPointer<EditableAudioCache> &editableCache = {});
    int type() const override { return TypeGroup; }
    // The copy shares the same member edits.
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included: members from the last to the first.
    float processSample(int sampleIndex, float value) override;
    void setStartSample(int startSample) override;
    void setEndSample(int endSample) override;
    void setRange(int startSample, int endSample) override;

    void addEdit(const AudioEditPtr &edit);
    void removeEdit(const AudioEditPtr &edit);
    QVector<AudioEditPtr> members() const { return m_members; }

    // The cache whose lock guards the member list; the cache sets it when the group is added.
    void setEditableCache(const QWeakPointer<EditableAudioCache> &editableCache);
    QWeakPointer<EditableAudioCache> editableCache() const { return m_editableCache; }

signals:
    void editAdded(AudioEditPtr pAudioEdit);
    void editRemoved(AudioEditPtr pAudioEdit);
    void editRaised(AudioEditPtr pAudioEdit);
    void editLowered(AudioEditPtr pAudioEdit);

private slots:
    // GUI thread: a member other than a Normalize changed the audio over the range.
    void slotMemberModified(const int startSample, const int endSample);

private:
    void watchMember(const AudioEditPtr &edit);
    // Asks the Normalizes among the first `index` members (processed after member `index`),
    // nested groups included, that meet the range for a new analysis.
    void reanalyseMembersAfter(int index, int startSample, int endSample);

    QVector<AudioEditPtr> m_members;
    QWeakPointer<EditableAudioCache> m_editableCache;
};
