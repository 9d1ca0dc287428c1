#pragma once
// Base of test classes whose code starts background work. Qt Test tears its logger down
// at the end of qExec without waiting for other threads, and a worker that logs right
// then (a fill finishing, a cache released on the reader thread) crashes the program
// after every test has passed. Ending each class with the shared reader idle closes
// that window.

#include <QObject>

class WorkerSafeTest : public QObject {
    Q_OBJECT
protected:
    // Classes with a cleanupTestCase() of their own call this at its end.
    static void waitForWorkers();

public:
    // The end of a test program that analysed edits: the analysis worker stops, and the
    // calls it queued to release editable caches on this thread run now. Left for Qt's own
    // teardown, a cache would be destroyed under the event queue's lock and join a worker
    // that waits on that lock to post, and the program would never end.
    static void endEditWork();

private slots:
    void cleanupTestCase() { waitForWorkers(); }
};
