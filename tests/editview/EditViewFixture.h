#pragma once
// A real loop from a generated WAV behind the edit-mode view: a slicer, an undo stack, edit
// mode switched on (editable cache), and helpers to drive the view with the mouse and to
// read the loop's rendered samples.

#include <QPoint>
#include <QSharedPointer>
#include <QString>
#include <QTemporaryDir>
#include <QUndoStack>
#include <memory>

class EditableAudioCache;
class SampleRendererEditor;
class Slice;
class Trevant;
class QAction;
class QWidget;

namespace EditViewRig {

// Sample i of the generated loop (interleaved index): a staircase at half level, so any
// offset, reversal or gain shows exactly.
float sourceSample(int i);

// Writes the loop: stereo float WAV, `frames` frames at 22050 Hz.
QString writeLoop(const QTemporaryDir &dir, int frames);

void press(QWidget *w, QPoint pos, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void move(QWidget *w, QPoint pos, Qt::MouseButtons buttons = Qt::LeftButton);
void release(QWidget *w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
// Press at from, several moves on the way, release at to.
void drag(QWidget *w, QPoint from, QPoint to, int steps = 6);

struct Rig {
    explicit Rig(int width = 1000);
    ~Rig();
    bool load(const QString &path);
    QSharedPointer<Slice> loop() const;
    QSharedPointer<EditableAudioCache> cache() const;
    // The loop's sample as it plays, after every pending re-render has run.
    float sample(int i);
    bool settle();
    QAction *effect(const QString &text) const;

    std::unique_ptr<Trevant> slicer;
    QUndoStack stack;
    QList<QAction *> mainActions;
    std::unique_ptr<SampleRendererEditor> view;
};

} // namespace EditViewRig
