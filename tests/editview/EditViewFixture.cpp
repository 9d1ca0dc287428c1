#include "EditViewFixture.h"

#include "EditableAudioCache.h"
#include "SampleRendererEditor.h"
#include "Slice.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

namespace EditViewRig {

float sourceSample(int i) {
    return 0.5f * TestAudio::staircase(i);
}

QString writeLoop(const QTemporaryDir &dir, int frames) {
    const QString path = dir.filePath(QStringLiteral("loop%1.wav").arg(frames));
    const bool ok = TestAudio::writeWav(
        path, 2, 22050, frames, [](long long f, int c) { return sourceSample(int(2 * f + c)); }, true);
    return ok ? path : QString();
}

void press(QWidget *w, QPoint pos, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(QEvent::MouseButtonPress, pos, w->mapToGlobal(pos), button, button, modifiers);
    QApplication::sendEvent(w, &event);
}

void move(QWidget *w, QPoint pos, Qt::MouseButtons buttons) {
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void release(QWidget *w, QPoint pos, Qt::MouseButton button) {
    QMouseEvent event(QEvent::MouseButtonRelease, pos, w->mapToGlobal(pos), button, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void drag(QWidget *w, QPoint from, QPoint to, int steps) {
    press(w, from);
    for (int k = 1; k <= steps; ++k)
        move(w, from + (to - from) * k / steps);
    release(w, to);
}

Rig::Rig(int width) : slicer(new Trevant()) {
    for (const char *name : {"Cut", "Copy", "Paste", "Delete"}) {
        auto *action = new QAction(QString::fromLatin1(name));
        mainActions.append(action);
    }
    view.reset(new SampleRendererEditor(nullptr, slicer.get(), &stack, mainActions));
    view->resize(width, 300);
    view->show();
}

Rig::~Rig() {
    view.reset();
    qDeleteAll(mainActions);
}

bool Rig::load(const QString &path) {
    if (!slicer->slotLoadLoop(path))
        return false;
    QSharedPointer<Slice> l = slicer->currentSlice();
    QSignalSpy filled(l.data(), &Slice::loadingComplete);
    if (!l->isLoadingComplete() && !filled.wait(30000))
        return false;
    view->setSlice(l);
    slicer->setEditMode(true);
    if (!view->prepareForEditing())
        return false;
    if (!QTest::qWaitForWindowExposed(view.get()))
        return false;
    return settle();
}

QSharedPointer<Slice> Rig::loop() const {
    return slicer->currentSlice();
}

QSharedPointer<EditableAudioCache> Rig::cache() const {
    return view->editableCache();
}

bool Rig::settle() {
    const QSharedPointer<EditableAudioCache> c = cache();
    for (int waited = 0; waited < 20000; waited += 2) {
        QCoreApplication::processEvents();
        if (!c || !c->isResetting())
            return true;
        QTest::qWait(2);
    }
    return false;
}

float Rig::sample(int i) {
    settle();
    return loop()->cache()->getSample(i);
}

QAction *Rig::effect(const QString &text) const {
    for (QAction *action : view->effectActions())
        if (action->text() == text)
            return action;
    return nullptr;
}

} // namespace EditViewRig
