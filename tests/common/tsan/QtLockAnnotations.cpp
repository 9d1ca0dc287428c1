// Linked into the test programs of the ThreadSanitizer build only.
//
// Debian's Qt is not built with ThreadSanitizer, and QMutex, QReadWriteLock,
// QWaitCondition and QThread::wait synchronise inside libQt5Core (futexes and atomics the
// sanitizer never sees). Without help every field guarded by a Qt lock would be reported as a race.
// These definitions take the place of Qt's exported lock functions for calls made from
// our code: each forwards to Qt's own and tells the sanitizer that the lock object was
// acquired or released, the way its pthread interceptors do for pthread mutexes.

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QWaitCondition>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdio>
#include <cstdlib>

namespace {
template <typename Fn>
Fn qtFunction(const char *mangledName)
{
    void *symbol = dlsym(RTLD_NEXT, mangledName);
    if (!symbol) {
        std::fprintf(stderr, "ThreadSanitizer lock annotations: %s not found in Qt\n", mangledName);
        std::abort();
    }
    return reinterpret_cast<Fn>(symbol);
}

#define QT_ORIGINAL(type, name) static const auto original = qtFunction<type>(name)
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(void (*)(QMutex *), "_ZN6QMutex4lockEv");
    original(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    QT_ORIGINAL(bool (*)(QMutex *, int), "_ZN6QMutex7tryLockEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    QT_ORIGINAL(void (*)(QMutex *), "_ZN6QMutex6unlockEv");
    __tsan_release(this);
    original(this);
}

void QReadWriteLock::lockForRead()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock11lockForReadEv");
    original(this);
    __tsan_acquire(this);
}

void QReadWriteLock::lockForWrite()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock12lockForWriteEv");
    original(this);
    __tsan_acquire(this);
}

bool QReadWriteLock::tryLockForRead()
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock14tryLockForReadEv");
    const bool locked = original(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock14tryLockForReadEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite()
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *), "_ZN14QReadWriteLock15tryLockForWriteEv");
    const bool locked = original(this);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    QT_ORIGINAL(bool (*)(QReadWriteLock *, int), "_ZN14QReadWriteLock15tryLockForWriteEi");
    const bool locked = original(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QReadWriteLock::unlock()
{
    QT_ORIGINAL(void (*)(QReadWriteLock *), "_ZN14QReadWriteLock6unlockEv");
    __tsan_release(this);
    original(this);
}

// Waiting unlocks the caller's lock inside Qt and locks it again before returning.
bool QWaitCondition::wait(QMutex *lockedMutex, QDeadlineTimer deadline)
{
    QT_ORIGINAL(bool (*)(QWaitCondition *, QMutex *, QDeadlineTimer), "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    __tsan_release(lockedMutex);
    const bool woken = original(this, lockedMutex, deadline);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex *lockedMutex, unsigned long time)
{
    QT_ORIGINAL(bool (*)(QWaitCondition *, QMutex *, unsigned long), "_ZN14QWaitCondition4waitEP6QMutexm");
    __tsan_release(lockedMutex);
    const bool woken = original(this, lockedMutex, time);
    __tsan_acquire(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, QDeadlineTimer deadline)
{
    QT_ORIGINAL(bool (*)(QWaitCondition *, QReadWriteLock *, QDeadlineTimer),
                "_ZN14QWaitCondition4waitEP14QReadWriteLock14QDeadlineTimer");
    __tsan_release(lockedReadWriteLock);
    const bool woken = original(this, lockedReadWriteLock, deadline);
    __tsan_acquire(lockedReadWriteLock);
    return woken;
}

bool QWaitCondition::wait(QReadWriteLock *lockedReadWriteLock, unsigned long time)
{
    QT_ORIGINAL(bool (*)(QWaitCondition *, QReadWriteLock *, unsigned long), "_ZN14QWaitCondition4waitEP14QReadWriteLockm");
    __tsan_release(lockedReadWriteLock);
    const bool woken = original(this, lockedReadWriteLock, time);
    __tsan_acquire(lockedReadWriteLock);
    return woken;
}

// A finished QThread hands over to whoever waits for it under Qt's own lock: the thread
// releases itself when it emits finished (after run returned), and a successful wait
// acquires it.
void QThread::start(Priority priority)
{
    QT_ORIGINAL(void (*)(QThread *, Priority), "_ZN7QThread5startENS_8PriorityE");
    QObject::connect(this, &QThread::finished, this, [this] { __tsan_release(this); },
                     Qt::DirectConnection);
    original(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    QT_ORIGINAL(bool (*)(QThread *, QDeadlineTimer), "_ZN7QThread4waitE14QDeadlineTimer");
    const bool finished = original(this, deadline);
    if (finished)
        __tsan_acquire(this);
    return finished;
}

bool QThread::wait(unsigned long time)
{
    QT_ORIGINAL(bool (*)(QThread *, unsigned long), "_ZN7QThread4waitEm");
    const bool finished = original(this, time);
    if (finished)
        __tsan_acquire(this);
    return finished;
}

namespace {
// Wraps a functor handed to QMetaObject::invokeMethod, which Qt posts through its own
// event queue: the poster releases the wrapper, and the thread that runs or destroys the
// functor acquires it first. A blocking call hands back through a shared address.
char g_blockingReturn;

class AnnotatedSlot : public QtPrivate::QSlotObjectBase {
public:
    explicit AnnotatedSlot(QtPrivate::QSlotObjectBase *inner) : QSlotObjectBase(&impl), m_inner(inner)
    {
        __tsan_release(this);
    }

private:
    static void impl(int which, QSlotObjectBase *base, QObject *receiver, void **args, bool *ret)
    {
        auto *self = static_cast<AnnotatedSlot *>(base);
        switch (which) {
        case Destroy:
            __tsan_acquire(self);
            self->m_inner->destroyIfLastRef();
            delete self;
            break;
        case Call:
            __tsan_acquire(self);
            self->m_inner->call(receiver, args);
            __tsan_release(&g_blockingReturn);
            break;
        default:
            if (ret)
                *ret = false;
            break;
        }
    }

    QtPrivate::QSlotObjectBase *m_inner;
};
} // namespace

bool QMetaObject::invokeMethodImpl(QObject *object, QtPrivate::QSlotObjectBase *slot, Qt::ConnectionType type,
                                   void *ret)
{
    QT_ORIGINAL(bool (*)(QObject *, QtPrivate::QSlotObjectBase *, Qt::ConnectionType, void *),
                "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    const bool invoked = original(object, slot ? new AnnotatedSlot(slot) : nullptr, type, ret);
    if (type == Qt::BlockingQueuedConnection)
        __tsan_acquire(&g_blockingReturn);
    return invoked;
}
