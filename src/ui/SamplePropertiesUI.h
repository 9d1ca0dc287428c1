#pragma once

#include "Slice.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>

// Form "DlgSampleProperties".
class Ui_DlgSampleProperties {
public:
    QLabel *labelFilename;
    QLabel *label_3;
    QLabel *labelDuration;
    QLabel *label_4;
    QLabel *labelSampleRate;
    QLabel *labelNumSamples;
    QLabel *label_2;
    QDoubleSpinBox *doubleSpinBoxTempo;
    QPushButton *pushButtonHalve;
    QPushButton *pushButtonDouble;
    QLabel *labelTempoConfidence;
    QPushButton *pushButtonOpenLocation;
    QDialogButtonBox *buttonBox;

    void setupUi(QDialog *DlgSampleProperties);
    void retranslateUi(QDialog *DlgSampleProperties);
};

// "Sample Properties": the loaded loop's file, duration, rate and length, and its
// original tempo, which the user may correct (Ok stores it on the loop).
class SamplePropertiesUI : public QDialog {
    Q_OBJECT
public:
    SamplePropertiesUI(QWidget *parent, QSharedPointer<Slice> loop);

    // The path as shown: whole up to 40 characters, else the first 10, "..." and the last 30.
    static QString elidedFileName(const QString &path);
    // "%1m:%2s:%3ms" with two-digit minutes and seconds and three-digit milliseconds.
    static QString formatDuration(double seconds);

public slots:
    void slotOpenLocation();
    void slotDoubleBpm();
    void slotHalveBpm();
    void accept() override;

private:
    Ui_DlgSampleProperties ui;
    QSharedPointer<Slice> m_pSlice;
    // The tempo box's value as the dialog opened, rounded to its decimals and range.
    double m_dShownBpm = 0.0;
};
