#pragma once

#include <QColor>
#include <QEnableSharedFromThis>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <atomic>

class AudioEdit;
using AudioEditPtr = QSharedPointer<AudioEdit>;

// Type codes shared by the factory, the edit list's ordering rules and the edit view.
enum AudioEditType {
    TypeGroup = 0,
    TypeFadeIn = 1,
    TypeFadeOut = 2,
    TypeMute = 3,
    TypeHiddenMute = 4,
    TypeReverse = 5,
    TypeDuplicate = 6,
    TypeGain = 7,
    TypeDelete = 8,
    TypeNormalize = 9
};

// Registers AudioEditPtr with the meta-type system under the name "AudioEditPtr" (with its
// conversion to QObject*) so that edits travel in queued signals, and lets the loop model
// switch to an editable cache in edit mode. Called once by main; safe to call again.
void registerAudioEditMetaType();

// A non-destructive edit: a region of the edited loop and what happens to the samples in it.
// The indices are interleaved stereo sample indices; the region is start <= i <= end.
//
// Threads: edits are created and changed on the GUI thread. The edit cache's readers (the
// sound-card thread among them) call processSample and the offset transforms, and the edit
// worker calls analyze, concurrently with those changes: the range is held in atomics and
// every per-kind parameter read while rendering is atomic too.
class AudioEdit : public QObject, public QEnableSharedFromThis<AudioEdit> {
    Q_OBJECT
public:
    ~AudioEdit() override;

    virtual int type() const = 0;
    // A new edit of the same kind with every field copied (a group's copy shares its members).
    virtual AudioEditPtr clone() const = 0;

    virtual void setStartSample(int startSample);
    virtual void setEndSample(int endSample);
    virtual void setRange(int startSample, int endSample);
    virtual int startSample() const;
    virtual int endSample() const;
    virtual int length() const;
    virtual int maxLength() const;
    virtual bool changesLength() const;

    // Any reader thread, the sound-card thread included: no allocation, no lock, no logging.
    virtual float processSample(int sampleIndex, float value);
    // Maps an edited-loop index to a source index, and back.
    virtual int transformOffset(int index) const;
    virtual int inverseTransformOffset(int index) const;

    // Edit worker thread.
    virtual void analyze();
    virtual void notifyRegionModified();
    virtual bool startsBefore(const AudioEdit &other) const;

    void setHidden(bool hidden);
    void setSelected(bool selected) { m_selected = selected; }
    bool isHidden() const { return m_hidden; }
    bool isSelected() const { return m_selected; }
    QString name() const { return m_name; }
    QColor color() const { return m_color; }
    bool showsItem() const { return m_showsItem; }

    // True when sampleIndex lies in the edit's region (end included).
    bool covers(int sampleIndex) const
    {
        return sampleIndex >= m_start.load() && sampleIndex <= m_end.load();
    }

signals:
    void regionModified(const int startSample, const int endSample);
    void visibilityChanged();
    void analysisProgress(float fFraction);
    void analysisFinished();

protected:
    AudioEdit(const QString &name, const QColor &color, bool showsItem = true);
    // Copies the fields every kind shares into a fresh clone.
    void copyCommonFieldsTo(AudioEdit &clone) const;
    // Stores start and end and recomputes the length without overflowing.
    void storeRange(int startSample, int endSample);

    std::atomic<int> m_start{0};
    std::atomic<int> m_end{0};
    std::atomic<int> m_length{0};

private:
    bool m_selected = false;
    bool m_hidden = false;
    QString m_name;
    bool m_showsItem = true;
    QColor m_color;
};
