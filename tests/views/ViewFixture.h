#pragma once
// A real loop, a real slicer and an undo stack behind the views, with the three views
// laid out as the main window stacks them (transport bar, slicing view, zoom bar).

#define QTEST_QPA_MOUSE_HANDLING
#include <QtTest>

#include <QSharedPointer>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

class SampleRendererTrevant;
class SampleRendererZoombar;
class Slice;
class TransportBar;
class Trevant;

namespace ViewTest {

// Writes a stereo WAV with a decaying 110 Hz tone restarting every quarter second (a
// crude kick pattern) so the waveform has visible structure.
QString writeLoop(const QTemporaryDir &dir, const QString &name, int rate, double seconds);

// Sends a wheel event as the platform would deliver it (angle delta in eighths of a degree).
void wheel(QWidget *widget, QPoint pos, QPoint angleDelta);

// Mouse move with the buttons the test currently holds (QTest tracks them).
void move(QWidget *widget, QPoint pos);

struct Rig {
    Rig();
    ~Rig();
    // Loads the file through the slicer, attaches the views and waits for the fill.
    bool load(const QString &path);

    std::unique_ptr<Trevant> slicer;
    QUndoStack stack;
    QWidget window;
    SampleRendererTrevant *view = nullptr;
    SampleRendererZoombar *zoombar = nullptr;
    TransportBar *transport = nullptr;
    QSharedPointer<Slice> loop() const;
};

} // namespace ViewTest
