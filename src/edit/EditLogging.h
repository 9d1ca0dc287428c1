#pragma once

#include <QLoggingCategory>

// What the edit layer (non-destructive edits and their commands) logs. Switched off with
// QT_LOGGING_RULES="quillory.edit.debug=false", warnings too with "quillory.edit=false".
Q_DECLARE_LOGGING_CATEGORY(lcEdit)
