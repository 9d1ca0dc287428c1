#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

// The time-stretch window's static layout, in the shape of a designer form: widgets are
// plain members created by setupUi, texts set by retranslateUi in the "DlgTimeStretch"
// translation context. TimeStretchUI gives the controls their behaviour.
class Ui_DlgTimeStretch {
public:
    QTabWidget *tabWidget;
    // Tempo and Pitch
    QWidget *tab;
    QLabel *label_9;
    QRadioButton *radioButtonQualityPresetDrums;
    QRadioButton *radioButtonQualityPresetHarmonic;
    QRadioButton *radioButtonQualityPresetDefault;
    QRadioButton *radioButtonQualityPresetCustom;
    QLabel *label;
    QDoubleSpinBox *doubleSpinBoxNewBPM;
    QLabel *label_2;
    QSpinBox *spinBoxPitchAdjustSemitones;
    QGroupBox *groupBox_3;
    QLabel *label_6;
    QRadioButton *radioButtonTimeStretchEntireFile;
    QRadioButton *radioButtonTimeStretchCurrentLoop;
    // Advanced Settings
    QWidget *tab_2;
    QLabel *label_7;
    QRadioButton *radioButtonTransientsCrisp;
    QRadioButton *radioButtonTransientsMixed;
    QRadioButton *radioButtonTransientsSmooth;
    QLabel *label_8;
    QRadioButton *radioButtonTransientDetectorPercussive;
    QRadioButton *radioButtonTransientDetectorCompound;
    QRadioButton *radioButtonTransientDetectorSoft;
    QLabel *label_11;
    QRadioButton *radioButtonSmoothingOn;
    QRadioButton *radioButtonSmoothingOff;
    QLabel *label_10;
    QRadioButton *radioButtonWindowCrisper;
    QRadioButton *radioButtonWindowStandard;
    QRadioButton *radioButtonWindowSmoother;
    QLabel *label_12;
    QRadioButton *radioButtonFormantPreservationYes;
    QRadioButton *radioButtonFormantPreservationNo;
    QLabel *label_13;
    QRadioButton *radioButtonStereoProcessingStandard;
    QRadioButton *radioButtonStereoProcessingEnhancedFocus;
    // BPM Calculator
    QWidget *tab_3;
    QGroupBox *groupBoxManualBpmCalculator;
    QLabel *label_3;
    QDoubleSpinBox *doubleSpinBoxOriginalBPM;
    QLabel *label_4;
    QSpinBox *spinBoxLoopLengthBeats;
    QPushButton *pushButtonCalculateBPMFromLoop;
    QPushButton *pushButtonManualBpmWhatsThis;
    // Below the tabs
    QLabel *label_14;
    QProgressBar *progressBar;
    QLabel *labelStatus;
    QPushButton *pushButtonPreview;
    QDialogButtonBox *buttonBox;

    void setupUi(QDialog *DlgTimeStretch);
    void retranslateUi(QDialog *DlgTimeStretch);
};
