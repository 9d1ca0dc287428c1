#include "TimeStretchUI.h"

#include "OfflineStretchRenderer.h"
#include "TempoDetection.h"
#include "Trevant.h"
#include "UiLogging.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QToolTip>
#include <cmath>

namespace {

// Rubber Band option words, as the stretcher defines them.
enum StretchOption {
    TransientsCrisp = 0x0,
    TransientsMixed = 0x100,
    TransientsSmooth = 0x200,
    DetectorCompound = 0x0,
    DetectorPercussive = 0x400,
    DetectorSoft = 0x800,
    WindowStandard = 0x0,
    WindowShort = 0x100000,
    WindowLong = 0x200000,
    SmoothingOff = 0x0,
    SmoothingOn = 0x800000,
    FormantShifted = 0x0,
    FormantPreserved = 0x1000000,
    ChannelsApart = 0x0,
    ChannelsTogether = 0x10000000,
};

enum Preset { PresetDefault = 0, PresetHarmonic = 1, PresetDrums = 2, PresetCustom = 3 };

} // namespace

TimeStretchUI::TimeStretchUI(QWidget *parent, Trevant *slicer)
    : QDialog(parent, Qt::Tool), m_pSlicer(slicer)
{
    ui.setupUi(this);

    m_applyToGroup.addButton(ui.radioButtonTimeStretchEntireFile, 0);
    m_applyToGroup.addButton(ui.radioButtonTimeStretchCurrentLoop, 1);
    m_qualityPresetGroup.addButton(ui.radioButtonQualityPresetDefault, PresetDefault);
    m_qualityPresetGroup.addButton(ui.radioButtonQualityPresetHarmonic, PresetHarmonic);
    m_qualityPresetGroup.addButton(ui.radioButtonQualityPresetDrums, PresetDrums);
    m_qualityPresetGroup.addButton(ui.radioButtonQualityPresetCustom, PresetCustom);

    // Each option row: the group's ids are the option words, and a click sets the word.
    struct Row {
        QButtonGroup *group;
        void (TimeStretchUI::*slot)(int);
        std::initializer_list<std::pair<QRadioButton *, int>> buttons;
    };
    const Row rows[] = {
        {&m_transientsGroup, &TimeStretchUI::setTransientControl,
         {{ui.radioButtonTransientsCrisp, TransientsCrisp},
          {ui.radioButtonTransientsMixed, TransientsMixed},
          {ui.radioButtonTransientsSmooth, TransientsSmooth}}},
        {&m_detectorGroup, &TimeStretchUI::setTransientDetector,
         {{ui.radioButtonTransientDetectorPercussive, DetectorPercussive},
          {ui.radioButtonTransientDetectorCompound, DetectorCompound},
          {ui.radioButtonTransientDetectorSoft, DetectorSoft}}},
        {&m_smoothingGroup, &TimeStretchUI::setSmoothing,
         {{ui.radioButtonSmoothingOn, SmoothingOn}, {ui.radioButtonSmoothingOff, SmoothingOff}}},
        {&m_windowGroup, &TimeStretchUI::setAnalysisWindow,
         {{ui.radioButtonWindowCrisper, WindowShort},
          {ui.radioButtonWindowStandard, WindowStandard},
          {ui.radioButtonWindowSmoother, WindowLong}}},
        {&m_formantGroup, &TimeStretchUI::setFormantPreservation,
         {{ui.radioButtonFormantPreservationYes, FormantPreserved},
          {ui.radioButtonFormantPreservationNo, FormantShifted}}},
        {&m_stereoGroup, &TimeStretchUI::setStereoProcessing,
         {{ui.radioButtonStereoProcessingStandard, ChannelsApart},
          {ui.radioButtonStereoProcessingEnhancedFocus, ChannelsTogether}}},
    };
    for (const Row &row : rows) {
        for (const auto &b : row.buttons) {
            row.group->addButton(b.first, b.second);
            const int value = b.second;
            const auto slot = row.slot;
            connect(b.first, &QRadioButton::clicked, this, [this, slot, value] { (this->*slot)(value); });
        }
    }
    for (QRadioButton *r : {ui.radioButtonQualityPresetDefault, ui.radioButtonQualityPresetHarmonic,
                            ui.radioButtonQualityPresetDrums, ui.radioButtonQualityPresetCustom}) {
        connect(r, &QRadioButton::clicked, this,
                [this, r] { setQualityPreset(m_qualityPresetGroup.id(r)); });
    }

    connect(ui.doubleSpinBoxNewBPM, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &TimeStretchUI::timeStretchToBPM);
    connect(ui.spinBoxPitchAdjustSemitones, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &TimeStretchUI::pitchAdjustSemitones);
    connect(ui.doubleSpinBoxOriginalBPM, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &TimeStretchUI::updateOriginalBPMDependencies);
    connect(ui.pushButtonCalculateBPMFromLoop, &QPushButton::clicked, this, &TimeStretchUI::calculateBPMFromLoop);
    connect(ui.pushButtonManualBpmWhatsThis, &QPushButton::clicked, this,
            &TimeStretchUI::showManualBpmCalculatorWhatsThis);

    ui.buttonBox->button(QDialogButtonBox::Ok)->setText(tr("Save..."));
    connect(ui.buttonBox, &QDialogButtonBox::accepted, this, &TimeStretchUI::accept);
    connect(ui.buttonBox, &QDialogButtonBox::rejected, this, &TimeStretchUI::reject);
    connect(ui.buttonBox->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            &TimeStretchUI::resetToDefaults);
    // An action-role button does not make the box emit accepted(): previewing must
    // not start a save.
    ui.buttonBox->addButton(ui.pushButtonPreview, QDialogButtonBox::ActionRole);
    connect(ui.pushButtonPreview, &QPushButton::toggled, this, &TimeStretchUI::togglePreview);

    if (m_pSlicer) {
        connect(m_pSlicer, &Trevant::loopChanged, this, &TimeStretchUI::updateChoices);
        connect(m_pSlicer, &Trevant::sliceLoaded, this, &TimeStretchUI::slotSliceLoaded);
        if (TempoDetection *detector = m_pSlicer->bpmDetector()) {
            connect(detector, &TempoDetection::calculatingBpm, this, &TimeStretchUI::bpmCalculationProgress);
            connect(detector, &TempoDetection::bpmDetected, this, &TimeStretchUI::bpmCalculationFinished);
        }
    }
    connectSlice();
    resetToDefaults();
    updateChoices();
}

TimeStretchUI::~TimeStretchUI()
{
    if (m_pRenderer) {
        if (m_pRenderSlice)
            m_pRenderSlice->setCancelRequested(true);
        delete m_pRenderer; // cancels and waits for the render thread
        m_pRenderer = nullptr;
    }
    for (const QString &file : qAsConst(m_renderedFiles))
        QFile::remove(file);
}

SlicePtr TimeStretchUI::slice() const { return m_pSlicer ? m_pSlicer->currentSlice() : SlicePtr(); }

void TimeStretchUI::connectSlice()
{
    const SlicePtr s = slice();
    if (s.data() == m_pConnectedSlice.data())
        return;
    if (m_pConnectedSlice)
        disconnect(m_pConnectedSlice, nullptr, this, nullptr);
    m_pConnectedSlice = s.data();
    if (!s)
        return;
    connect(s.data(), &Slice::playbackToggled, this, &TimeStretchUI::updatePreviewButtonState);
    connect(s.data(), &Slice::bpmChanged, this, &TimeStretchUI::updateOriginalBpmFromSlice);
    connect(s.data(), &Slice::effectiveBpmChanged, this, &TimeStretchUI::updateNewBpmFromSlice);
    connect(s.data(), &Slice::pitchChanged, this, &TimeStretchUI::updatePitchFromSlice);
    // Save waits for the whole file: a render of a half-loaded loop would have silent gaps.
    connect(s.data(), &Slice::loadingComplete, this, &TimeStretchUI::updateChoices);
}

void TimeStretchUI::slotSliceLoaded()
{
    // A render of the loop that was just replaced would load over the new one.
    if (m_bRendering && m_pRenderSlice && m_pRenderSlice.data() != slice().data()) {
        m_pRenderSlice->setCancelRequested(true);
        if (m_pRenderer)
            m_pRenderer->cancel();
    }
    connectSlice();
    updateChoices();
}

void TimeStretchUI::refresh()
{
    const SlicePtr s = slice();
    if (!s)
        return;
    connectSlice();
    s->setStretchEnabled(true);
    // A new loop starts with a default stretcher; give it what the rows show.
    if (m_pOptionsAppliedTo.data() != s.data())
        applyOptionsToSlice(s);
    ui.progressBar->setValue(0);
    // A render that is still winding down keeps Save disabled until it has ended.
    m_bRendering = m_pRenderer != nullptr;
    updateChoices();

    const QSignalBlocker b1(ui.spinBoxPitchAdjustSemitones);
    const QSignalBlocker b2(ui.doubleSpinBoxOriginalBPM);
    const QSignalBlocker b3(ui.doubleSpinBoxNewBPM);
    ui.spinBoxPitchAdjustSemitones->setValue(s->pitch());
    if (s->bpm() > 0.0) {
        ui.doubleSpinBoxOriginalBPM->setValue(s->bpm());
        const double effective = s->effectiveBpm();
        if (std::isfinite(effective) && effective > 0.0)
            ui.doubleSpinBoxNewBPM->setValue(effective);
    }
}

int TimeStretchUI::selectedOptions() const
{
    int options = 0;
    for (const QButtonGroup *g : {&m_transientsGroup, &m_detectorGroup, &m_windowGroup, &m_smoothingGroup,
                                  &m_formantGroup, &m_stereoGroup}) {
        if (g->checkedId() > 0)
            options |= g->checkedId();
    }
    return options;
}

void TimeStretchUI::applyOptionsToSlice(const SlicePtr &s)
{
    if (!s)
        return;
    auto word = [](const QButtonGroup &g) { return qMax(0, g.checkedId()); };
    s->setStretchTransientsOption(word(m_transientsGroup));
    s->setStretchDetectorOption(word(m_detectorGroup));
    s->setStretchWindowOption(word(m_windowGroup));
    s->setStretchSmoothingOption(word(m_smoothingGroup));
    s->setStretchFormantOption(word(m_formantGroup));
    s->setStretchChannelsOption(word(m_stereoGroup));
    m_pOptionsAppliedTo = s.data();
}

void TimeStretchUI::resetToDefaults()
{
    if (const SlicePtr s = slice()) {
        if (s->bpm() > 0.0)
            ui.doubleSpinBoxOriginalBPM->setValue(s->bpm());
        ui.spinBoxPitchAdjustSemitones->setValue(0);
        ui.doubleSpinBoxNewBPM->setValue(ui.doubleSpinBoxOriginalBPM->value());
        s->setTimeStretchRatio(1.0, int(ui.doubleSpinBoxOriginalBPM->value()));
    }
    ui.radioButtonQualityPresetDefault->setChecked(true);
    setQualityPreset(PresetDefault);
}

void TimeStretchUI::showManualBpmCalculatorWhatsThis()
{
    QToolTip::showText(QCursor::pos(),
                       tr("You can accurately calculate the tempo (BPM) of any audio file by\n"
                          "first placing slice points around a segment that is 8 beats long,\n"
                          "and then toggling looping over that segment.\n"
                          "After the loop is set, click the \"Calculate BPM\" button."),
                       ui.groupBoxManualBpmCalculator, ui.groupBoxManualBpmCalculator->rect());
}

void TimeStretchUI::calculateBPMFromLoop()
{
    const SlicePtr s = slice();
    if (!s || !m_pSlicer || s->loopMode() == 0)
        return;
    const int start = m_pSlicer->loopStart();
    const int end = m_pSlicer->loopEnd();
    const int rate = s->fileSampleRate();
    const int beats = ui.spinBoxLoopLengthBeats->value();
    if (end <= start || rate <= 0 || beats <= 0)
        return;
    const double seconds = double(end - start) / (double(rate) * 2.0);
    qCDebug(lcUi) << "loop length in seconds:" << seconds;
    const double bpm = double(beats) / seconds * 60.0;
    qCDebug(lcUi) << "BPM is:" << bpm;
    ui.doubleSpinBoxOriginalBPM->setValue(bpm);
    ui.doubleSpinBoxNewBPM->setValue(s->timeStretchRatio() * bpm);
    const double newBpm = ui.doubleSpinBoxNewBPM->value();
    s->setTimeStretchRatio(1.0 / (newBpm / ui.doubleSpinBoxOriginalBPM->value()), int(newBpm));
}

void TimeStretchUI::timeStretchToBPM(double fBPM)
{
    const SlicePtr s = slice();
    const double original = ui.doubleSpinBoxOriginalBPM->value();
    // The spin boxes keep both above 30; the guard keeps a ratio of 0 or NaN out of the loop.
    if (!s || !(fBPM > 0.0) || !(original > 0.0))
        return;
    s->setTimeStretchRatio(1.0 / (fBPM / original), int(fBPM));
}

void TimeStretchUI::updateOriginalBPMDependencies(double fBPM)
{
    if (const SlicePtr s = slice()) {
        s->setBpm(fBPM);
        s->setTimeStretchRatio(1.0, int(fBPM));
    }
    ui.doubleSpinBoxNewBPM->setValue(fBPM);
}

void TimeStretchUI::pitchAdjustSemitones(int semitones)
{
    if (const SlicePtr s = slice())
        s->setPitch(semitones);
}

void TimeStretchUI::togglePreview(bool enable)
{
    if (const SlicePtr s = slice())
        s->play(enable, 0, 0);
}

void TimeStretchUI::updatePreviewButtonState(bool checked)
{
    const QSignalBlocker blocker(ui.pushButtonPreview);
    ui.pushButtonPreview->setChecked(checked);
}

void TimeStretchUI::updateChoices()
{
    const SlicePtr s = slice();
    QPushButton *save = ui.buttonBox->button(QDialogButtonBox::Ok);
    save->setEnabled(s && s->length() > 0 && s->isLoadingComplete() && !m_bRendering && !m_pRenderer);
    const bool looping = s && s->loopMode() != 0;
    ui.radioButtonTimeStretchCurrentLoop->setEnabled(looping);
    ui.spinBoxLoopLengthBeats->setEnabled(looping);
    ui.pushButtonCalculateBPMFromLoop->setEnabled(looping);
    if (!s)
        return;
    if (looping)
        ui.radioButtonTimeStretchCurrentLoop->setChecked(true);
    else
        ui.radioButtonTimeStretchEntireFile->setChecked(true);
}

void TimeStretchUI::setQualityPreset(int preset)
{
    struct Words {
        QRadioButton *transients, *detector, *window, *smoothing, *formant, *channels;
    };
    Words w;
    switch (preset) {
    case PresetDefault:
        w = {ui.radioButtonTransientsCrisp, ui.radioButtonTransientDetectorCompound, ui.radioButtonWindowStandard,
             ui.radioButtonSmoothingOff, ui.radioButtonFormantPreservationNo,
             ui.radioButtonStereoProcessingStandard};
        break;
    case PresetHarmonic:
        w = {ui.radioButtonTransientsSmooth, ui.radioButtonTransientDetectorCompound, ui.radioButtonWindowSmoother,
             ui.radioButtonSmoothingOff, ui.radioButtonFormantPreservationYes,
             ui.radioButtonStereoProcessingStandard};
        break;
    case PresetDrums:
        w = {ui.radioButtonTransientsCrisp, ui.radioButtonTransientDetectorPercussive, ui.radioButtonWindowCrisper,
             ui.radioButtonSmoothingOff, ui.radioButtonFormantPreservationNo,
             ui.radioButtonStereoProcessingStandard};
        break;
    default: // Custom keeps every row as it is.
        return;
    }
    // Checking from code emits no clicked(), so the preset does not turn into Custom.
    for (QRadioButton *r : {w.transients, w.detector, w.window, w.smoothing, w.formant, w.channels})
        r->setChecked(true);
    if (const SlicePtr s = slice())
        applyOptionsToSlice(s);
}

void TimeStretchUI::setTransientControl(int option)
{
    if (const SlicePtr s = slice())
        s->setStretchTransientsOption(option);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::setTransientDetector(int detector)
{
    if (const SlicePtr s = slice())
        s->setStretchDetectorOption(detector);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::setAnalysisWindow(int window)
{
    if (const SlicePtr s = slice())
        s->setStretchWindowOption(window);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::setSmoothing(int smoothing)
{
    if (const SlicePtr s = slice())
        s->setStretchSmoothingOption(smoothing);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::setFormantPreservation(int formant)
{
    if (const SlicePtr s = slice())
        s->setStretchFormantOption(formant);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::setStereoProcessing(int stereo)
{
    if (const SlicePtr s = slice())
        s->setStretchChannelsOption(stereo);
    ui.radioButtonQualityPresetCustom->setChecked(true);
}

void TimeStretchUI::updateSavingProgress(float progress)
{
    ui.labelStatus->setText(tr("Saving..."));
    ui.progressBar->setValue(int(ui.progressBar->maximum() * progress));
}

void TimeStretchUI::savingComplete()
{
    hide();
    ui.progressBar->setValue(0);
    ui.labelStatus->setText(tr("Ready"));
}

void TimeStretchUI::bpmCalculationProgress() {}

void TimeStretchUI::bpmCalculationFinished()
{
    const SlicePtr s = slice();
    if (!s || !(s->bpm() > 0.0))
        return;
    const double bpm = s->bpm();
    {
        const QSignalBlocker blocker(ui.doubleSpinBoxOriginalBPM);
        ui.doubleSpinBoxOriginalBPM->setValue(bpm);
    }
    s->setBpm(bpm);
    s->setTimeStretchRatio(1.0, int(bpm));
    ui.doubleSpinBoxNewBPM->setValue(bpm);
}

void TimeStretchUI::updatePitchFromSlice()
{
    if (const SlicePtr s = slice()) {
        const QSignalBlocker blocker(ui.spinBoxPitchAdjustSemitones);
        ui.spinBoxPitchAdjustSemitones->setValue(s->pitch());
    }
}

void TimeStretchUI::updateOriginalBpmFromSlice()
{
    const SlicePtr s = slice();
    if (s && s->bpm() > 0.0) {
        const QSignalBlocker blocker(ui.doubleSpinBoxOriginalBPM);
        ui.doubleSpinBoxOriginalBPM->setValue(s->bpm());
    }
}

void TimeStretchUI::updateNewBpmFromSlice()
{
    const SlicePtr s = slice();
    // Without a tempo the effective tempo is 0, which says nothing about the target.
    if (!s || !(s->bpm() > 0.0))
        return;
    const double effective = s->effectiveBpm();
    if (!std::isfinite(effective) || effective <= 0.0)
        return;
    const QSignalBlocker blocker(ui.doubleSpinBoxNewBPM);
    ui.doubleSpinBoxNewBPM->setValue(effective);
}

void TimeStretchUI::accept()
{
    const SlicePtr s = slice();
    if (!s || m_bRendering || m_pRenderer || !s->isLoadingComplete() || s->length() <= 0)
        return;

    OfflineStretchRenderer::Job job;
    const bool region = ui.radioButtonTimeStretchCurrentLoop->isChecked() && s->loopMode() != 0;
    job.start = region ? s->loopStart() : 0;
    job.end = region ? s->loopEnd() : s->length();
    job.sampleRate = s->fileSampleRate();
    const double ratio = s->timeStretchRatio();
    job.timeRatio = std::isfinite(ratio) && ratio > 0.0 ? ratio : 1.0;
    job.pitchSemitones = s->pitch();
    job.options = selectedOptions();
    job.baseName = tr("%1 %2 BPM").arg(s->baseName()).arg(qRound(ui.doubleSpinBoxNewBPM->value()));
    // The loop's samples as they play (edits applied, frames reversed when the loop is),
    // read from the cache the loop has now under the cache's lock, as playback reads
    // them: the render thread keeps the cache alive and never touches the loop's fields.
    const AudioCachePtr cache = s->cache();
    const bool reversed = s->isReversed();
    if (!cache)
        return;
    job.reader = [cache, reversed](float *dst, int start, int count) -> int {
        return cache->readAsPlayed(dst, count, start, reversed);
    };
    const SlicePtr held = s;

    s->setCancelRequested(false);
    m_bClosed = false;
    m_bRendering = true;
    m_pRenderSlice = s.data();
    m_pRenderer = new OfflineStretchRenderer(this);
    connect(m_pRenderer, &OfflineStretchRenderer::progressChanged, this, &TimeStretchUI::updateSavingProgress);
    connect(m_pRenderer, &OfflineStretchRenderer::finished, this, &TimeStretchUI::slotRenderFinished);
    connect(m_pRenderer, &OfflineStretchRenderer::cancelled, this, &TimeStretchUI::slotRenderCancelled);
    connect(m_pRenderer, &OfflineStretchRenderer::failed, this, &TimeStretchUI::slotRenderFailed);
    // The main window's status bar follows the loop's saving signals.
    connect(m_pRenderer, &OfflineStretchRenderer::progressChanged, s.data(), &Slice::savingProgress);
    updateChoices();
    updateSavingProgress(0.0f);
    m_pRenderer->start(job, [held] { return held->isCancelRequested(); });
}

void TimeStretchUI::reject()
{
    m_bClosed = true;
    if (m_bRendering) {
        if (m_pRenderSlice)
            m_pRenderSlice->setCancelRequested(true);
        if (m_pRenderer)
            m_pRenderer->cancel();
    }
    m_bRendering = false;
    QDialog::reject();
    hide();
}

void TimeStretchUI::endRender()
{
    if (m_pRenderer) {
        m_pRenderer->wait();
        m_pRenderer->deleteLater();
        m_pRenderer = nullptr;
    }
    m_bRendering = false;
    updateChoices();
}

void TimeStretchUI::slotRenderFinished(const QString &fileName)
{
    const QPointer<Slice> rendered = m_pRenderSlice;
    endRender();
    m_renderedFiles.append(fileName);
    if (rendered)
        emit rendered->savingComplete();
    savingComplete();
    emit temporaryFileRendered(fileName);
}

void TimeStretchUI::slotRenderCancelled()
{
    const QPointer<Slice> rendered = m_pRenderSlice;
    endRender();
    if (rendered) {
        rendered->setCancelRequested(false);
        emit rendered->savingCancelled();
    }
    ui.progressBar->setValue(0);
    ui.labelStatus->setText(tr("Cancelled"));
}

void TimeStretchUI::slotRenderFailed(const QString &message)
{
    const QPointer<Slice> rendered = m_pRenderSlice;
    endRender();
    if (rendered)
        emit rendered->savingCancelled();
    ui.progressBar->setValue(0);
    ui.labelStatus->setText(tr("Saving failed"));
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                tr("The stretched audio could not be saved.\n%1").arg(message), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
