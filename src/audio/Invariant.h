#pragma once

#include <QLoggingCategory>

// A condition that no file, setting or gesture can make false, only a fault in the program.
// A debug build stops where it broke, to be looked at in the debugger; a release build logs
// a critical line in the subsystem's category and lets the caller recover, so that the user
// keeps working and the log says where to look. Yields the condition:
//
//     if (!INVARIANT_HOLDS(lcEdit, deletion))
//         return commands;
//
// Conditions that input can break are checked and handled as usual, without this. It logs,
// so it is never used on the sound-card thread. It lives in the lowest layer so that every
// layer above may use it.
#define INVARIANT_HOLDS(category, condition)                                                                 \
    (Q_LIKELY(static_cast<bool>(condition)) || Invariant::broken(category(), #condition, __FILE__, __LINE__))

namespace Invariant {

// Reports a broken invariant; returns false for the caller to recover from.
inline bool broken(const QLoggingCategory &category, const char *condition, const char *file, int line)
{
    if (category.isCriticalEnabled())
        QMessageLogger(file, line, nullptr, category.categoryName())
            .critical("Invariant broken: %s (%s:%d)", condition, file, line);
#if !defined(QT_NO_DEBUG) || defined(QT_FORCE_ASSERTS)
    qt_assert(condition, file, line);
#endif
    return false;
}

} // namespace Invariant
