#pragma once

#include <QLoggingCategory>

// What the persistence layer (projects, templates, export) logs. Switched off with
// QT_LOGGING_RULES="quillory.persist.debug=false", warnings too with "quillory.persist=false".
Q_DECLARE_LOGGING_CATEGORY(lcPersist)
