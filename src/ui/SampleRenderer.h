#pragma once

#include <QColor>
#include <QImage>
#include <QMutex>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPointer>
#include <QSharedPointer>
#include <QTimer>

#include <vector>

class AudioCache;
class QPainter;
class Slice;

// Base of every waveform view: shows one loop between a start and an end sample index
// (the view window), keeps the rendered waveform and background in pixmaps, draws the
// play position and zooms and scrolls with the mouse wheel. All indices are positions in
// the loop's interleaved stereo stream.
class SampleRenderer : public QOpenGLWidget {
    Q_OBJECT
public:
    // The smallest view window the wheel, the zoom bar and setViewStart/End allow.
    static constexpr int kMinimumViewSamples = 100;

    SampleRenderer(QWidget *parent, QSharedPointer<Slice> loop);
    ~SampleRenderer() override;

    // Replaces the loop (null detaches the view) and shows the whole of it.
    virtual void setSlice(QSharedPointer<Slice> loop);
    QSharedPointer<Slice> slice() const { return m_pSlice; }

    int viewStart() const { return iViewStartSampleIdx; }
    int viewEnd() const { return iViewEndSampleIdx; }
    void setViewStart(int start, bool emitSignal);
    void setViewEnd(int end, bool emitSignal);

    void setWaveformDirty(bool dirty);
    void setBackgroundColor(QColor color);

    double sampleToPixel(int sample) const;
    int pixelToSample(int x) const;
    float pixelToSeconds(int x) const;
    double secondsToPixel(float seconds) const;
    double pixelToLoopFraction(int x) const;
    float zoomFactor() const;
    double samplesPerPixel() const;
    // sampleToPixel for drawing: positions far outside the window are clamped to a few
    // widths beyond the edges, so their pixel never overflows an int.
    int drawingX(int sample) const;

    // Draws background and waveform into a painter the caller already holds.
    void paintLayers(QPainter *painter);
    void drawPlayPosition(QPainter *painter);
    void renderWaveform();

    double renderDevicePixelRatio() const { return m_fDevicePixelRatio; }
    // The play position the last drawPlayPosition showed (-1 before the first).
    int paintedPlayPosition() const { return m_iPaintedPlayPos; }

signals:
    void viewChanged(long iViewStartSampleIdx, long iViewEndSampleIdx);

public slots:
    void resetView();
    void setViewPosition(long start, long end);
    void setWaveformDirtyAndRepaint();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    // Paints through QPainter into the widget's framebuffer, so that the on-screen image,
    // grab() and grabFramebuffer() all show the same picture.
    void paintGL() override;
    virtual void drawBackground();
    // What paintGL draws; subclasses add their layers after the base ones.
    virtual void paintView(QPainter *painter);

    // Stores a new window edge when it keeps the minimum width; returns whether it did.
    bool applyViewStart(int start, bool emitSignal);
    bool applyViewEnd(int end, bool emitSignal);
    int loopLength() const;

    QSharedPointer<Slice> m_pSlice;
    QColor m_backgroundColor;
    QPixmap *m_pWaveformPixmap = nullptr;
    QPixmap *m_pBackgroundPixmap = nullptr;
    QMutex m_pixmapMutex;
    bool m_bBackgroundDirty = true;
    double m_fDevicePixelRatio = 1.0;
    QOpenGLFunctions m_gl;
    bool m_bWaveformDirty = true;
    int iViewStartSampleIdx = 0;
    int iViewEndSampleIdx = 0;
    int m_iSampleRate = 44100;

private:
    void connectLoop();
    // Repaint timer: the sound-card thread publishes the play position without signalling.
    void pollPlayPosition();

    QTimer m_playPositionTimer;
    int m_iPaintedPlayPos = -1;

    // The cache whose fill signals are connected; a loop entering edit mode swaps its cache.
    QPointer<AudioCache> m_pConnectedCache;
    // Scratch pixels for the bar display, kept between renders of the same size.
    QImage m_waveformImage;
    // The run of each column, top and bottom row, kept between renders.
    std::vector<int> m_columnTops;
    std::vector<int> m_columnBottoms;
};
