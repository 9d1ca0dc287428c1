#include "UiLogging.h"

Q_LOGGING_CATEGORY(lcUi, "quillory.ui")
