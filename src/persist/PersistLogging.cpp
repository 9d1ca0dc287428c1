#include "PersistLogging.h"

Q_LOGGING_CATEGORY(lcPersist, "quillory.persist")
