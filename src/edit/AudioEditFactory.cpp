#include "AudioEditFactory.h"

#include "AudioEditDelete.h"
#include "AudioEditDuplicate.h"
#include "AudioEditFadeIn.h"
#include "AudioEditFadeOut.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AudioEditMute.h"
#include "AudioEditNormalize.h"
#include "AudioEditReverse.h"
#include "EditLogging.h"
#include "EditableAudioCache.h"

#include <algorithm>

AudioEditPtr AudioEditFactory::createEdit(int type, int destinationSample, int startSample, int endSample,
                                          const QSharedPointer<EditableAudioCache> &cache)
{
    const AudioCachePtr source = cache ? cache->sourceCache() : AudioCachePtr();
    const int sourceStart = cache ? cache->toSourceIndex(startSample) : startSample;
    AudioEditPtr edit;
    switch (type) {
    case TypeGroup:
        edit = AudioEditPtr(new AudioEditGroup(cache));
        break;
    case TypeFadeIn:
        edit = AudioEditPtr(new AudioEditFadeIn);
        break;
    case TypeFadeOut:
        edit = AudioEditPtr(new AudioEditFadeOut);
        break;
    case TypeMute:
        edit = AudioEditPtr(new AudioEditMute(true));
        break;
    case TypeHiddenMute:
        edit = AudioEditPtr(new AudioEditMute(false));
        break;
    case TypeGain:
        edit = AudioEditPtr(new AudioEditGain);
        break;
    case TypeReverse:
        edit = AudioEditPtr(new AudioEditReverse(source, cache, sourceStart));
        break;
    case TypeDuplicate:
        edit = AudioEditPtr(new AudioEditDuplicate(source, cache, sourceStart));
        break;
    case TypeDelete:
        edit = AudioEditPtr(new AudioEditDelete);
        break;
    case TypeNormalize:
        edit = AudioEditPtr(new AudioEditNormalize(source, cache));
        break;
    default:
        qCDebug(lcEdit) << "Unhandled AudioEdit type in"
                        << "src/AudioEditFactory";
        return {};
    }

    edit->setRange(startSample, endSample);

    if (type == TypeDuplicate && destinationSample != -1) {
        // Lay the copy of [start, end) over the destination, kept inside the loop; the source
        // offset stays, so the copied material is the same.
        const qint64 length = qint64(endSample) - startSample;
        const qint64 cacheLength = cache ? cache->length() : qint64(endSample);
        const qint64 start = std::max<qint64>(0, std::min(cacheLength - length, qint64(destinationSample)));
        const qint64 end = std::min(cacheLength, qint64(destinationSample) + length);
        edit->setRange(int(start), int(end));
    }

    // A Normalize has asked for its analysis through its range change above.
    return edit;
}
