#include "AudioEditItemFactory.h"

#include "AudioEditItem.h"
#include "AudioEditItemGain.h"
#include "AudioEditItemGroup.h"
#include "UiLogging.h"

AudioEditItem *AudioEditItemFactory::createItem(const AudioEditPtr &edit, SampleRenderer *view) {
    const int type = edit ? edit->type() : -1;
    switch (type) {
    case TypeGroup:
        return new AudioEditItemGroup(edit, view);
    case TypeGain:
        return new AudioEditItemGain(edit, view);
    case TypeFadeIn:
    case TypeFadeOut:
    case TypeMute:
    case TypeHiddenMute:
    case TypeReverse:
    case TypeDuplicate:
    case TypeDelete:
    case TypeNormalize:
        return new AudioEditItem(edit, view);
    default:
        qCDebug(lcUi) << "Warning: Unhandled AudioEdit type in"
                      << "src/AudioEditItemFactory";
        return new AudioEditItem(edit, view);
    }
}
