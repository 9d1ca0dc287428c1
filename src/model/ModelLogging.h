#pragma once

#include <QLoggingCategory>

// What the model (the loop, its slices, the settings) logs. Switched off with
// QT_LOGGING_RULES="quillory.model.debug=false", warnings too with "quillory.model=false".
Q_DECLARE_LOGGING_CATEGORY(lcModel)
