#pragma once

#include <QLoggingCategory>

// What the window program (views, dialogs, the application object) logs. Switched off with
// QT_LOGGING_RULES="quillory.ui.debug=false", warnings too with "quillory.ui=false".
Q_DECLARE_LOGGING_CATEGORY(lcUi)
