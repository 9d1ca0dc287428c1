#pragma once

#include <QLoggingCategory>

// What the audio layer (readers, decoders, the sample cache) logs. Switched off with
// QT_LOGGING_RULES="quillory.audio.debug=false", warnings too with "quillory.audio=false".
Q_DECLARE_LOGGING_CATEGORY(lcAudio)
