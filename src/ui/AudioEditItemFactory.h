#pragma once

#include "AudioEdit.h"

#include <QObject>

class AudioEditItem;
class SampleRenderer;

// Makes the item that draws an edit in the edit view.
class AudioEditItemFactory : public QObject {
    Q_OBJECT
public:
    // A group's item for a group, a gain item for a gain, a plain item for everything else.
    static AudioEditItem *createItem(const AudioEditPtr &edit, SampleRenderer *view);
};
