#include "EditLogging.h"

Q_LOGGING_CATEGORY(lcEdit, "quillory.edit")
