#pragma once

#include <QLoggingCategory>

// What tempo detection logs. Switched off with
// QT_LOGGING_RULES="quillory.tempo.debug=false", warnings too with "quillory.tempo=false".
Q_DECLARE_LOGGING_CATEGORY(lcTempo)
