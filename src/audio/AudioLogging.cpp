#include "AudioLogging.h"

Q_LOGGING_CATEGORY(lcAudio, "quillory.audio")
