#include "ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

void ThreadPriority::lowerCurrentThreadForBackgroundWork() {
    // On Linux a nice value belongs to the thread named by its id, not to the process;
    // QThread's priorities map to nothing under the ordinary scheduling policy.
    const id_t thread = id_t(syscall(SYS_gettid));
    if (getpriority(PRIO_PROCESS, thread) < kBackgroundNice)
        setpriority(PRIO_PROCESS, thread, kBackgroundNice);
}
