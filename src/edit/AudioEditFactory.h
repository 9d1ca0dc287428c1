#pragma once

#include "AudioEdit.h"

#include <QObject>
#include <QSharedPointer>

class EditableAudioCache;

// Makes edits from their type code (AudioEditType).
class AudioEditFactory : public QObject {
    Q_OBJECT
public:
    // Positions are edited-loop indices except for a Delete, whose span [startSample,
    // endSample) is already in source coordinates. destinationSample (-1 for none) moves a
    // Duplicate's copy there. Unknown codes give a null pointer.
    static AudioEditPtr createEdit(int type, int destinationSample, int startSample, int endSample,
                                   const QSharedPointer<EditableAudioCache> &cache);
};
