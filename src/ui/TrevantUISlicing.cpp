// The main window's slicing: quick controls, playback, slicing by count, template and
// cursor, and slicing at transients with its sensitivity control (TrevantUI.h).
#include "TrevantUI.h"

#include "AddSlicePointCommand.h"
#include "AutoSliceCommand.h"
#include "ClearSlicingCommand.h"
#include "OnsetAnalysisService.h"
#include "SampleRendererEditor.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceAtTransientsCommand.h"
#include "SliceEngine.h"
#include "SliceTemplate.h"
#include "TransientSensitivityCommand.h"
#include "Trevant.h"
#include "UndoCommandId.h"

#include <QKeyEvent>
#include <QUndoStack>

// --- Quick controls -----------------------------------------------------------------

void TrevantUI::slotSetMasterBPM(int bpm) {
    m_engine->setEngineTempo(bpm);
}

void TrevantUI::setTrevantBPM(double fBPM) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice || fBPM <= 0.0 || slice->bpm() <= 0.0)
        return;
    slice->setStretchEnabled(true);
    slice->setTimeStretchRatio(1.0 / (fBPM / slice->bpm()), int(fBPM));
}

void TrevantUI::setTrevantPitchAdjust(int semitones) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    slice->setStretchEnabled(true);
    slice->setPitch(semitones);
}

void TrevantUI::resetQuickControls() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    // The spin boxes are set with their signals blocked: letting them through would
    // turn stretching straight back on.
    {
        const QSignalBlocker b1(ui.doubleSpinBoxBpm);
        const QSignalBlocker b2(ui.spinBoxPitch);
        if (slice->bpm() > 0.0)
            ui.doubleSpinBoxBpm->setValue(slice->bpm());
        ui.spinBoxPitch->setValue(0);
    }
    slice->setPitch(0);
    if (slice->bpm() > 0.0)
        slice->setTimeStretchRatio(1.0, int(slice->bpm()));
    slice->setStretchEnabled(false);
}

SlicePtr TrevantUI::sliceWithTempo() const {
    SlicePtr slice = m_slicer->currentSlice();
    return slice && slice->bpm() != 0.0 ? slice : SlicePtr();
}

void TrevantUI::updateQuickControlsOriginalBpmFromSlice() {
    const SlicePtr current = m_slicer->currentSlice();
    if (current && current->bpm() == 0.0) {
        // Silence, noise or too little audio: the detection ended without a tempo, and a
        // full detection bar left behind would look like one still running.
        ui.stackedWidgetBpm->setCurrentIndex(1);
        ui.progressBarBpm->setValue(0);
        ui.progressBarBpm->setFormat(tr("No tempo"));
        return;
    }
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    ui.stackedWidgetBpm->setCurrentIndex(0);
    const QSignalBlocker blocker(ui.doubleSpinBoxBpm);
    // The box is the tempo that plays: a loop corrected while stretched keeps its stretch.
    ui.doubleSpinBoxBpm->setValue(slice->effectiveBpm());
}

void TrevantUI::updateQuickControlsNewBpmFromSlice() {
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    ui.stackedWidgetBpm->setCurrentIndex(0);
    const QSignalBlocker blocker(ui.doubleSpinBoxBpm);
    ui.doubleSpinBoxBpm->setValue(slice->effectiveBpm());
}

void TrevantUI::updateQuickControlsPitchFromSlice() {
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    const QSignalBlocker blocker(ui.spinBoxPitch);
    ui.spinBoxPitch->setValue(slice->pitch());
}

void TrevantUI::slotShowBpmDetectionProgress(float fProgressFraction) {
    if (ui.stackedWidgetBpm->currentIndex() != 1)
        ui.stackedWidgetBpm->setCurrentIndex(1);
    ui.progressBarBpm->setFormat(QStringLiteral("%p%"));
    ui.progressBarBpm->setValue(int(ui.progressBarBpm->maximum() * fProgressFraction));
}

// --- Playback -----------------------------------------------------------------------

void TrevantUI::slotUpdatePlaybackButton(bool checked) {
    {
        const QSignalBlocker blocker(ui.actionPlay);
        ui.actionPlay->setChecked(checked);
    }
    ui.actionSliceAtCursor->setEnabled(checked);
}

void TrevantUI::slotTogglePlayback(bool toggle) {
    m_slicer->togglePlayback(toggle);
}

bool TrevantUI::eventFilter(QObject *watched, QEvent *event) {
    // The reset-focus action's Escape works application-wide, so in the windows that stay
    // open beside this one it would take the key from them. There Escape closes the
    // window, as it does in every dialog.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TrevantUI::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        SlicePtr slice = m_slicer->currentSlice();
        if (!slice)
            return; // swallowed without a loop
        const int index = key - Qt::Key_1;
        const QList<int> points = m_slicer->slicePoints();
        if (index < points.size() + 1) {
            m_slicer->playFrom(index == 0 ? 0 : points.at(index - 1));
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

// --- Slicing ------------------------------------------------------------------------

void TrevantUI::pushSliceCommand(QUndoCommand *command) {
    if (!m_slicer->currentSlice()) {
        delete command;
        return;
    }
    m_undoStack->push(command);
}

void TrevantUI::sliceInto(int slices) {
    pushSliceCommand(new AutoSliceCommand(m_slicer, slices));
}
void TrevantUI::slotUseSliceTemplate4() {
    sliceInto(4);
}
void TrevantUI::slotUseSliceTemplate8() {
    sliceInto(8);
}
void TrevantUI::slotUseSliceTemplate16() {
    sliceInto(16);
}
void TrevantUI::slotSliceIn4() {
    sliceInto(4);
}
void TrevantUI::slotSliceIn8() {
    sliceInto(8);
}
void TrevantUI::slotSliceIn16() {
    sliceInto(16);
}
void TrevantUI::slotSliceIn32() {
    sliceInto(32);
}
void TrevantUI::slotSliceIn64() {
    sliceInto(64);
}
void TrevantUI::slotSliceAudio() {}

void TrevantUI::slotSliceAtCursor() {
    const int bufferSize = Settings::instance().value("AudioDeviceBufferSize").toInt();
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    const int position = slice->playPosition() - 2 * bufferSize;
    // Tapped on the loop's first beat, a buffer back lies at or before the trim start: the
    // first slice starts there already, and a point would leave it empty.
    if (position <= m_slicer->trimStart() || position >= m_slicer->trimEnd())
        return;
    pushSliceCommand(new AddSlicePointCommand(m_slicer, position));
}

// --- Slicing at transients ----------------------------------------------------------

const TransientSlicingCommand *TrevantUI::appliedTransientCommand() const {
    // Looping a slice or correcting the tempo leaves the points as they are: a musician who
    // loops a slice to listen to it still has the control at hand that refines them.
    int index = m_undoStack->index() - 1;
    while (index >= 0) {
        const int id = m_undoStack->command(index)->id();
        if (id != int(UndoCommandId::ToggleSliceLoop) && id != int(UndoCommandId::ExpandSliceLoop) &&
            id != int(UndoCommandId::LoopTempo))
            break;
        --index;
    }
    return index >= 0 ? dynamic_cast<const TransientSlicingCommand *>(m_undoStack->command(index)) : nullptr;
}

QList<int> TrevantUI::transientPoints(int sensitivity, double minLengthMs, bool snapToZeroCrossings) const {
    const OnsetAnalysisPtr analysis = m_onsets->analysis();
    if (!analysis)
        return m_slicer->slicePoints();
    return OnsetAnalysisService::slicePoints(m_slicer, *analysis, sensitivity, minLengthMs,
                                             snapToZeroCrossings);
}

QList<int> TrevantUI::repickedTransientPoints(int sensitivity) const {
    // The sensitivity control moves the applied slicing on: it keeps the shortest slice
    // length and the snapping that slicing was made with, whatever the settings say now,
    // so the points it keeps stay exactly where they were.
    const TransientSlicingCommand *applied = appliedTransientCommand();
    if (!applied)
        return transientPoints(sensitivity, Settings::instance().transientMinLengthMs(),
                               Trevant::snapsToZeroCrossings());
    return transientPoints(sensitivity, applied->minLengthMs(), applied->snapsToZeroCrossings());
}

void TrevantUI::slotSliceAtTransients() {
    const SlicePtr slice = m_slicer->currentSlice();
    if (!slice || slice->length() <= 0)
        return;
    m_transientSlicePending = true;
    if (m_onsets->analysis()) {
        applySliceAtTransients();
        return;
    }
    statusBar()->showMessage(transientProgressText());
    m_onsets->request();
}

void TrevantUI::applySliceAtTransients() {
    m_transientSlicePending = false;
    if (!m_onsets->analysis())
        return;
    // A drag still held belongs to the points this replaces.
    m_sensitivityDragOpen = false;
    m_sensitivityCommitPending = false;
    const int sensitivity = ui.sliderTransientSensitivity->value();
    const double minLengthMs = Settings::instance().transientMinLengthMs();
    const bool snaps = Trevant::snapsToZeroCrossings();
    const QList<int> after = transientPoints(sensitivity, minLengthMs, snaps);
    auto *command = new SliceAtTransientsCommand(m_slicer, m_slicer->slicePoints(), after, sensitivity);
    command->setMinLengthMs(minLengthMs);
    command->setSnapsToZeroCrossings(snaps);
    pushSliceCommand(command);
    // "Sliced at 0 transients" would read as if something had been cut; the control that
    // can find softer hits is on screen now.
    statusBar()->showMessage(after.isEmpty() ? tr("No transients found at this sensitivity.")
                                             : tr("Sliced at %n transient(s).", nullptr, after.size()),
                             3000);
}

void TrevantUI::pushTransientSensitivity(const QList<int> &before, const QList<int> &after, int mergeSession) {
    const TransientSlicingCommand *applied = appliedTransientCommand();
    const int sensitivity = ui.sliderTransientSensitivity->value();
    if (!applied || (before == after && qRound(applied->sensitivity()) == sensitivity))
        return;
    auto *command = new TransientSensitivityCommand(m_slicer, before, after, sensitivity, mergeSession);
    command->setMinLengthMs(applied->minLengthMs());
    command->setSnapsToZeroCrossings(applied->snapsToZeroCrossings());
    m_pushingSensitivity = true;
    m_undoStack->push(command);
    m_pushingSensitivity = false;
}

void TrevantUI::slotUndoIndexChanged() {
    if (!m_pushingSensitivity) {
        // Another step came in between (or the user undid one): what the control was doing
        // no longer starts from the points it remembered.
        ++m_sensitivitySession;
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        m_transientRepickPending = false;
    }
    const TransientSlicingCommand *applied = appliedTransientCommand();
    if (!applied) {
        ui.widgetTransientSensitivity->hide();
        return;
    }
    if (!m_pushingSensitivity) {
        const QSignalBlocker blocker(ui.sliderTransientSensitivity);
        ui.sliderTransientSensitivity->setValue(qRound(applied->sensitivity()));
        ui.labelTransientSensitivityValue->setNum(ui.sliderTransientSensitivity->value());
    }
    ui.widgetTransientSensitivity->show();
}

QString TrevantUI::transientProgressText() const {
    return tr("Detecting transients...");
}

bool TrevantUI::isWaitingForTransients() const {
    return m_transientSlicePending || m_transientRepickPending;
}

void TrevantUI::slotSlicePointsChanged() {
    // Slicing the loop some other way (a count, a template, a marker moved, an undo) while
    // the detection still runs supersedes the slicing at transients asked for before it:
    // landing later, that would throw away what the musician did last. The detection goes
    // on, so that asking again lands at once. A deleted region carrying the points along
    // with its audio is no such slicing: the detection starts over on the edited audio
    // and still slices it.
    if (!m_transientSlicePending || m_editView->isMovingSlicePointsWithAudio())
        return;
    m_transientSlicePending = false;
    if (!isWaitingForTransients() && statusBar()->currentMessage().startsWith(transientProgressText()))
        statusBar()->clearMessage();
}

void TrevantUI::slotTransientAnalysisProgress(double fraction) {
    // A detection that no longer has anything to deliver is not reported as if it had.
    if (!isWaitingForTransients())
        return;
    statusBar()->showMessage(tr("Detecting transients... %1%").arg(int(qBound(0.0, fraction, 1.0) * 100.0)));
}

void TrevantUI::slotTransientAnalysisReady() {
    if (statusBar()->currentMessage().startsWith(transientProgressText()))
        statusBar()->clearMessage();
    if (m_transientSlicePending) {
        applySliceAtTransients();
        return;
    }
    if (!m_transientRepickPending)
        return;
    m_transientRepickPending = false;
    const QList<int> points = repickedTransientPoints(ui.sliderTransientSensitivity->value());
    if (ui.sliderTransientSensitivity->isSliderDown()) {
        m_slicer->setSlicePoints(points);
    } else if (m_sensitivityCommitPending) {
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        pushTransientSensitivity(m_sensitivityDragBefore, points, -1);
    } else {
        pushTransientSensitivity(m_slicer->slicePoints(), points, m_sensitivitySession);
    }
}

void TrevantUI::slotTransientSensitivityPressed() {
    m_sensitivityDragOpen = true;
    m_sensitivityCommitPending = false;
    m_sensitivityDragBefore = m_slicer->slicePoints();
}

void TrevantUI::slotTransientSensitivityChanged(int value) {
    ui.labelTransientSensitivityValue->setNum(value);
    if (!appliedTransientCommand())
        return;
    const bool dragging = ui.sliderTransientSensitivity->isSliderDown();
    // A drag that an undo interrupted goes on from the points the undo left.
    if (dragging && !m_sensitivityDragOpen)
        slotTransientSensitivityPressed();
    if (!m_onsets->analysis()) {
        m_transientRepickPending = true;
        statusBar()->showMessage(transientProgressText());
        m_onsets->request();
        return;
    }
    const QList<int> points = repickedTransientPoints(value);
    if (dragging)
        m_slicer->setSlicePoints(points); // drawn at once; the release makes the undo step
    else
        pushTransientSensitivity(m_slicer->slicePoints(), points, m_sensitivitySession);
}

void TrevantUI::slotTransientSensitivityReleased() {
    if (!m_sensitivityDragOpen)
        return;
    if (m_transientRepickPending) {
        m_sensitivityCommitPending = true;
        return;
    }
    m_sensitivityDragOpen = false;
    pushTransientSensitivity(m_sensitivityDragBefore, m_slicer->slicePoints(), -1);
}

void TrevantUI::slotClearSlicing() {
    pushSliceCommand(new ClearSlicingCommand(m_slicer));
}

void TrevantUI::slotToggleSnapToZeroCrossings(bool on) {
    Settings::instance().set("snap_to_zero_crossings", on ? "1" : "0");
}

void TrevantUI::slotToggleFadeInOutSlices(bool on) {
    Settings::instance().set("fade_in_out_slices", on ? "1" : "0");
}
