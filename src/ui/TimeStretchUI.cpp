#include "TimeStretchUI.h"

#include "OfflineStretchRenderer.h"
#include "TempoDetection.h"
#include "Trevant.h"
#include "UiLogging.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QToolTip>
#include <QVBoxLayout>
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

QRadioButton *radio(QWidget *parent, const char *name)
{
    auto *r = new QRadioButton(parent);
    r->setObjectName(QString::fromLatin1(name));
    return r;
}

QLabel *makeLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

// One row of the grid: a label and its radios side by side.
void addRow(QGridLayout *grid, int row, QLabel *l, std::initializer_list<QRadioButton *> radios)
{
    grid->addWidget(l, row, 0);
    auto *h = new QHBoxLayout;
    for (QRadioButton *r : radios)
        h->addWidget(r);
    h->addStretch(1);
    grid->addLayout(h, row, 1);
}

} // namespace

void Ui_DlgTimeStretch::setupUi(QDialog *DlgTimeStretch)
{
    if (DlgTimeStretch->objectName().isEmpty())
        DlgTimeStretch->setObjectName(QStringLiteral("DlgTimeStretch"));
    DlgTimeStretch->resize(512, 432);
    auto *verticalLayout = new QVBoxLayout(DlgTimeStretch);

    tabWidget = new QTabWidget(DlgTimeStretch);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    // Tempo and Pitch
    tab = new QWidget;
    tab->setObjectName(QStringLiteral("tab"));
    auto *tabLayout = new QVBoxLayout(tab);
    auto *grid = new QGridLayout;
    label_9 = makeLabel(tab, "label_9");
    radioButtonQualityPresetDrums = radio(tab, "radioButtonQualityPresetDrums");
    radioButtonQualityPresetHarmonic = radio(tab, "radioButtonQualityPresetHarmonic");
    radioButtonQualityPresetDefault = radio(tab, "radioButtonQualityPresetDefault");
    radioButtonQualityPresetCustom = radio(tab, "radioButtonQualityPresetCustom");
    addRow(grid, 0, label_9,
           {radioButtonQualityPresetDrums, radioButtonQualityPresetHarmonic, radioButtonQualityPresetDefault,
            radioButtonQualityPresetCustom});
    label = makeLabel(tab, "label");
    doubleSpinBoxNewBPM = new QDoubleSpinBox(tab);
    doubleSpinBoxNewBPM->setObjectName(QStringLiteral("doubleSpinBoxNewBPM"));
    doubleSpinBoxNewBPM->setRange(30.0, 300.0);
    doubleSpinBoxNewBPM->setValue(120.0);
    grid->addWidget(label, 1, 0);
    auto *bpmRow = new QHBoxLayout;
    bpmRow->addWidget(doubleSpinBoxNewBPM);
    bpmRow->addStretch(1);
    grid->addLayout(bpmRow, 1, 1);
    label_2 = makeLabel(tab, "label_2");
    label_2->setMaximumWidth(100);
    spinBoxPitchAdjustSemitones = new QSpinBox(tab);
    spinBoxPitchAdjustSemitones->setObjectName(QStringLiteral("spinBoxPitchAdjustSemitones"));
    spinBoxPitchAdjustSemitones->setRange(-24, 24);
    spinBoxPitchAdjustSemitones->setMinimumWidth(73);
    grid->addWidget(label_2, 2, 0);
    auto *pitchRow = new QHBoxLayout;
    pitchRow->addWidget(spinBoxPitchAdjustSemitones);
    pitchRow->addStretch(1);
    grid->addLayout(pitchRow, 2, 1);
    grid->setColumnStretch(1, 1);
    tabLayout->addLayout(grid);

    groupBox_3 = new QGroupBox(tab);
    groupBox_3->setObjectName(QStringLiteral("groupBox_3"));
    auto *renderLayout = new QHBoxLayout(groupBox_3);
    label_6 = makeLabel(groupBox_3, "label_6");
    radioButtonTimeStretchEntireFile = radio(groupBox_3, "radioButtonTimeStretchEntireFile");
    radioButtonTimeStretchEntireFile->setChecked(true);
    radioButtonTimeStretchCurrentLoop = radio(groupBox_3, "radioButtonTimeStretchCurrentLoop");
    renderLayout->addWidget(label_6);
    renderLayout->addWidget(radioButtonTimeStretchEntireFile);
    renderLayout->addWidget(radioButtonTimeStretchCurrentLoop);
    renderLayout->addStretch(1);
    tabLayout->addWidget(groupBox_3);
    tabLayout->addStretch(1);
    tabWidget->addTab(tab, QString());

    // Advanced Settings
    tab_2 = new QWidget;
    tab_2->setObjectName(QStringLiteral("tab_2"));
    auto *tab2Layout = new QVBoxLayout(tab_2);
    auto *grid2 = new QGridLayout;
    label_7 = makeLabel(tab_2, "label_7");
    radioButtonTransientsCrisp = radio(tab_2, "radioButtonTransientsCrisp");
    radioButtonTransientsMixed = radio(tab_2, "radioButtonTransientsMixed");
    radioButtonTransientsSmooth = radio(tab_2, "radioButtonTransientsSmooth");
    addRow(grid2, 0, label_7, {radioButtonTransientsCrisp, radioButtonTransientsMixed, radioButtonTransientsSmooth});
    label_8 = makeLabel(tab_2, "label_8");
    radioButtonTransientDetectorPercussive = radio(tab_2, "radioButtonTransientDetectorPercussive");
    radioButtonTransientDetectorCompound = radio(tab_2, "radioButtonTransientDetectorCompound");
    radioButtonTransientDetectorSoft = radio(tab_2, "radioButtonTransientDetectorSoft");
    addRow(grid2, 1, label_8,
           {radioButtonTransientDetectorPercussive, radioButtonTransientDetectorCompound,
            radioButtonTransientDetectorSoft});
    label_11 = makeLabel(tab_2, "label_11");
    label_11->setEnabled(false);
    radioButtonSmoothingOn = radio(tab_2, "radioButtonSmoothingOn");
    radioButtonSmoothingOff = radio(tab_2, "radioButtonSmoothingOff");
    for (QRadioButton *r : {radioButtonSmoothingOn, radioButtonSmoothingOff}) {
        r->setEnabled(false);
        r->setMaximumWidth(64);
    }
    addRow(grid2, 2, label_11, {radioButtonSmoothingOn, radioButtonSmoothingOff});
    label_10 = makeLabel(tab_2, "label_10");
    radioButtonWindowCrisper = radio(tab_2, "radioButtonWindowCrisper");
    radioButtonWindowStandard = radio(tab_2, "radioButtonWindowStandard");
    radioButtonWindowStandard->setMinimumWidth(84);
    radioButtonWindowSmoother = radio(tab_2, "radioButtonWindowSmoother");
    addRow(grid2, 3, label_10, {radioButtonWindowCrisper, radioButtonWindowStandard, radioButtonWindowSmoother});
    label_12 = makeLabel(tab_2, "label_12");
    radioButtonFormantPreservationYes = radio(tab_2, "radioButtonFormantPreservationYes");
    radioButtonFormantPreservationNo = radio(tab_2, "radioButtonFormantPreservationNo");
    addRow(grid2, 4, label_12, {radioButtonFormantPreservationYes, radioButtonFormantPreservationNo});
    label_13 = makeLabel(tab_2, "label_13");
    radioButtonStereoProcessingStandard = radio(tab_2, "radioButtonStereoProcessingStandard");
    radioButtonStereoProcessingEnhancedFocus = radio(tab_2, "radioButtonStereoProcessingEnhancedFocus");
    addRow(grid2, 5, label_13, {radioButtonStereoProcessingStandard, radioButtonStereoProcessingEnhancedFocus});
    grid2->setColumnStretch(1, 1);
    grid2->setVerticalSpacing(10);
    tab2Layout->addLayout(grid2);
    tab2Layout->addStretch(1);
    tabWidget->addTab(tab_2, QString());

    // BPM Calculator
    tab_3 = new QWidget;
    tab_3->setObjectName(QStringLiteral("tab_3"));
    auto *tab3Layout = new QVBoxLayout(tab_3);
    groupBoxManualBpmCalculator = new QGroupBox(tab_3);
    groupBoxManualBpmCalculator->setObjectName(QStringLiteral("groupBoxManualBpmCalculator"));
    auto *grid3 = new QGridLayout(groupBoxManualBpmCalculator);
    label_3 = makeLabel(groupBoxManualBpmCalculator, "label_3");
    doubleSpinBoxOriginalBPM = new QDoubleSpinBox(groupBoxManualBpmCalculator);
    doubleSpinBoxOriginalBPM->setObjectName(QStringLiteral("doubleSpinBoxOriginalBPM"));
    doubleSpinBoxOriginalBPM->setRange(30.0, 300.0);
    doubleSpinBoxOriginalBPM->setValue(120.0);
    doubleSpinBoxOriginalBPM->setMaximumWidth(72);
    label_4 = makeLabel(groupBoxManualBpmCalculator, "label_4");
    label_4->setMaximumWidth(96);
    spinBoxLoopLengthBeats = new QSpinBox(groupBoxManualBpmCalculator);
    spinBoxLoopLengthBeats->setObjectName(QStringLiteral("spinBoxLoopLengthBeats"));
    // Zero beats would make a tempo of 0.
    spinBoxLoopLengthBeats->setMinimum(1);
    spinBoxLoopLengthBeats->setValue(8);
    spinBoxLoopLengthBeats->setMaximumWidth(80);
    pushButtonCalculateBPMFromLoop = new QPushButton(groupBoxManualBpmCalculator);
    pushButtonCalculateBPMFromLoop->setObjectName(QStringLiteral("pushButtonCalculateBPMFromLoop"));
    pushButtonManualBpmWhatsThis = new QPushButton(groupBoxManualBpmCalculator);
    pushButtonManualBpmWhatsThis->setObjectName(QStringLiteral("pushButtonManualBpmWhatsThis"));
    pushButtonManualBpmWhatsThis->setMaximumWidth(130);
    grid3->addWidget(label_3, 0, 0);
    grid3->addWidget(doubleSpinBoxOriginalBPM, 0, 1);
    grid3->addWidget(label_4, 1, 0);
    grid3->addWidget(spinBoxLoopLengthBeats, 1, 1);
    grid3->addWidget(pushButtonCalculateBPMFromLoop, 1, 2);
    grid3->addWidget(pushButtonManualBpmWhatsThis, 2, 2);
    grid3->setColumnStretch(3, 1);
    tab3Layout->addWidget(groupBoxManualBpmCalculator);
    tab3Layout->addStretch(1);
    tabWidget->addTab(tab_3, QString());

    verticalLayout->addWidget(tabWidget);

    label_14 = makeLabel(DlgTimeStretch, "label_14");
    label_14->setWordWrap(true);
    verticalLayout->addWidget(label_14);
    auto *progressRow = new QHBoxLayout;
    progressBar = new QProgressBar(DlgTimeStretch);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setValue(24);
    labelStatus = makeLabel(DlgTimeStretch, "labelStatus");
    labelStatus->setMinimumWidth(128);
    progressRow->addWidget(progressBar);
    progressRow->addWidget(labelStatus);
    verticalLayout->addLayout(progressRow);

    pushButtonPreview = new QPushButton(DlgTimeStretch);
    pushButtonPreview->setObjectName(QStringLiteral("pushButtonPreview"));
    pushButtonPreview->setCheckable(true);
    buttonBox = new QDialogButtonBox(DlgTimeStretch);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok |
                                  QDialogButtonBox::RestoreDefaults);
    verticalLayout->addWidget(buttonBox);

    retranslateUi(DlgTimeStretch);
    tabWidget->setCurrentIndex(0);
}

void Ui_DlgTimeStretch::retranslateUi(QDialog *DlgTimeStretch)
{
    auto tr = [](const char *s) { return QCoreApplication::translate("DlgTimeStretch", s); };
    DlgTimeStretch->setWindowTitle(tr("Time Stretch and Pitch Adjust"));
    label_9->setText(tr("Quality Preset:"));
    radioButtonQualityPresetDrums->setText(tr("Drums"));
    radioButtonQualityPresetHarmonic->setText(tr("Harmonic"));
    radioButtonQualityPresetDefault->setText(tr("Default"));
    radioButtonQualityPresetCustom->setText(tr("Custom"));
    label->setText(tr("Tempo (BPM):"));
    label_2->setText(tr("Pitch Adjust:\n(Semitones)"));
    groupBox_3->setTitle(tr("Offline Rendering Settings"));
    label_6->setText(tr("Apply Time Streching to:"));
    radioButtonTimeStretchEntireFile->setText(tr("Entire File"));
    radioButtonTimeStretchCurrentLoop->setText(tr("Current Loop"));
    tabWidget->setTabText(tabWidget->indexOf(tab), tr("Tempo and Pitch"));
    label_7->setText(tr("Transient Control:"));
    radioButtonTransientsCrisp->setText(tr("Crisp"));
    radioButtonTransientsMixed->setText(tr("Mixed"));
    radioButtonTransientsSmooth->setText(tr("Smooth"));
    label_8->setText(tr("Transient Detector:"));
    radioButtonTransientDetectorPercussive->setText(tr("Percussive"));
    radioButtonTransientDetectorCompound->setText(tr("Compound"));
    radioButtonTransientDetectorSoft->setText(tr("Soft"));
    label_11->setText(tr("Smoothing:"));
    radioButtonSmoothingOn->setText(tr("On"));
    radioButtonSmoothingOff->setText(tr("Off"));
    label_10->setText(tr("Analysis Window Size:"));
    radioButtonWindowCrisper->setText(tr("Crisper"));
    radioButtonWindowStandard->setText(tr("Standard"));
    radioButtonWindowSmoother->setText(tr("Smoother"));
    label_12->setText(tr("Preserve Spectral Envelope:"));
    radioButtonFormantPreservationYes->setText(tr("Yes"));
    radioButtonFormantPreservationNo->setText(tr("No"));
    label_13->setText(tr("Stereo Processing:"));
    radioButtonStereoProcessingStandard->setText(tr("Standard"));
    radioButtonStereoProcessingEnhancedFocus->setText(tr("Enhanced Focus"));
    tabWidget->setTabText(tabWidget->indexOf(tab_2), tr("Advanced Settings"));
    groupBoxManualBpmCalculator->setTitle(tr("Manual BPM Calculator"));
    label_3->setText(tr("Original BPM:"));
    label_4->setText(tr("Loop Length:"));
    spinBoxLoopLengthBeats->setSuffix(tr(" beats"));
    pushButtonCalculateBPMFromLoop->setText(tr("Calculate BPM"));
    pushButtonManualBpmWhatsThis->setText(tr("What's This?"));
    tabWidget->setTabText(tabWidget->indexOf(tab_3), tr("BPM Calculator"));
    label_14->setText(tr("Final rendering is performed at higher quality than real-time previews."));
    labelStatus->setText(tr("Ready"));
    pushButtonPreview->setText(tr("Preview"));
}

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
