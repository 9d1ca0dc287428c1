#pragma once

#include <QLoggingCategory>

// What the engine (sound card, MIDI, samplers, offline rendering) logs. Switched off with
// QT_LOGGING_RULES="quillory.engine.debug=false", warnings too with "quillory.engine=false".
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
