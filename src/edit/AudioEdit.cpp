#include "AudioEdit.h"

#include "EditableAudioCache.h"

#include <QMetaType>
#include <algorithm>
#include <limits>

void registerAudioEditMetaType()
{
    qRegisterMetaType<AudioEditPtr>("AudioEditPtr");
    // Qt registers the smart-pointer conversion itself for QObject-derived types; make sure
    // of it so that QVariant::value<QObject*>() works on an edit.
    if (!QMetaType::hasRegisteredConverterFunction(qMetaTypeId<AudioEditPtr>(), QMetaType::QObjectStar))
        QMetaType::registerConverter<AudioEditPtr, QObject *>(
            [](const AudioEditPtr &edit) -> QObject * { return edit.data(); });
    EditableAudioCache::installInLoopModel();
}

AudioEdit::AudioEdit(const QString &name, const QColor &color, bool showsItem)
    : m_name(name), m_showsItem(showsItem), m_color(color)
{
}

AudioEdit::~AudioEdit() = default;

static int clampedLength(int start, int end)
{
    const qint64 length = qint64(end) - qint64(start);
    return int(std::clamp<qint64>(length, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void AudioEdit::storeRange(int startSample, int endSample)
{
    m_start.store(startSample);
    m_end.store(endSample);
    m_length.store(clampedLength(startSample, endSample));
}

void AudioEdit::setStartSample(int startSample)
{
    m_start.store(startSample);
    m_length.store(clampedLength(startSample, m_end.load()));
}

void AudioEdit::setEndSample(int endSample)
{
    m_end.store(endSample);
    m_length.store(clampedLength(m_start.load(), endSample));
}

void AudioEdit::setRange(int startSample, int endSample) { storeRange(startSample, endSample); }

int AudioEdit::startSample() const { return m_start.load(); }
int AudioEdit::endSample() const { return m_end.load(); }
int AudioEdit::length() const { return m_length.load(); }
int AudioEdit::maxLength() const { return std::numeric_limits<int>::max(); }
bool AudioEdit::changesLength() const { return false; }
float AudioEdit::processSample(int, float value) { return value; }
int AudioEdit::transformOffset(int index) const { return index; }
int AudioEdit::inverseTransformOffset(int index) const { return index; }
void AudioEdit::analyze() {}

void AudioEdit::notifyRegionModified() { emit regionModified(m_start.load(), m_end.load()); }

bool AudioEdit::startsBefore(const AudioEdit &other) const { return startSample() < other.startSample(); }

void AudioEdit::setHidden(bool hidden)
{
    if (m_hidden == hidden)
        return;
    m_hidden = hidden;
    emit visibilityChanged();
}

void AudioEdit::copyCommonFieldsTo(AudioEdit &clone) const
{
    clone.m_start.store(m_start.load());
    clone.m_end.store(m_end.load());
    clone.m_length.store(m_length.load());
    clone.m_selected = m_selected;
    clone.m_hidden = m_hidden;
    clone.m_name = m_name;
    clone.m_showsItem = m_showsItem;
    clone.m_color = m_color;
}
