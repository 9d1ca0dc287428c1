#include "ViewFixture.h"

#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "Slice.h"
#include "TestAudio.h"
#include "TransportBar.h"
#include "Trevant.h"

#include <QWheelEvent>
#include <cmath>

namespace ViewTest {

QString writeLoop(const QTemporaryDir &dir, const QString &name, int rate, double seconds) {
    const QString path = dir.filePath(name);
    const long long frames = (long long)(rate * seconds);
    const long long beat = rate / 4;
    const bool ok = TestAudio::writeWav(
        path, 2, rate, frames,
        [rate, beat](long long f, int c) {
            const double t = double(f % beat) / rate;
            const double env = std::exp(-t * 18.0);
            const double v =
                0.8 * env * std::sin(2.0 * M_PI * 110.0 * t) + 0.05 * std::sin(2.0 * M_PI * 3.0 * f / rate);
            return float(c == 0 ? v : 0.9 * v);
        },
        false);
    return ok ? path : QString();
}

void wheel(QWidget *widget, QPoint pos, QPoint angleDelta) {
    QWheelEvent event(QPointF(pos), QPointF(widget->mapToGlobal(pos)), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

void move(QWidget *widget, QPoint pos) {
    QTest::mouseMove(widget, pos);
}

Rig::Rig() : slicer(new Trevant()) {
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view = new SampleRendererTrevant(&window, slicer.get(), &stack);
    zoombar = new SampleRendererZoombar(&window, slicer->currentSlice());
    transport = new TransportBar(&window, slicer.get(), view, &stack);
    layout->addWidget(transport);
    layout->addWidget(view, 1);
    layout->addWidget(zoombar);
    zoombar->setFixedHeight(40);
    QObject::connect(view, &SampleRenderer::viewChanged, zoombar, &SampleRendererZoombar::setBarPosition);
    QObject::connect(zoombar, &SampleRendererZoombar::barChanged, view, &SampleRenderer::setViewPosition);
    QObject::connect(view, &SampleRenderer::viewChanged, transport,
                     static_cast<void (QWidget::*)()>(&QWidget::update));
    QObject::connect(zoombar, &SampleRendererZoombar::barChanged, transport,
                     static_cast<void (QWidget::*)()>(&QWidget::update));
    window.resize(800, 300);
    window.show();
}

Rig::~Rig() = default;

QSharedPointer<Slice> Rig::loop() const {
    return slicer->currentSlice();
}

bool Rig::load(const QString &path) {
    if (!slicer->slotLoadLoop(path))
        return false;
    QSharedPointer<Slice> loop = slicer->currentSlice();
    QSignalSpy filled(loop.data(), &Slice::loadingComplete);
    view->setSlice(loop);
    zoombar->setSlice(loop);
    window.update();
    if (!loop->cache()->isFilled() && !filled.wait(60000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

} // namespace ViewTest
