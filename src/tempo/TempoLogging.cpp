#include "TempoLogging.h"

Q_LOGGING_CATEGORY(lcTempo, "quillory.tempo")
