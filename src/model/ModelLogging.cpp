#include "ModelLogging.h"

Q_LOGGING_CATEGORY(lcModel, "quillory.model")
