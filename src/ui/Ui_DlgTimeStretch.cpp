#include "Ui_DlgTimeStretch.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

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
