#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QStringList>

class SliceEngine;

// Form "DialogPreferences10".
class Ui_DialogPreferences10 {
public:
    QGroupBox *groupBox;
    QLabel *label_2;
    QComboBox *comboBoxAudioApi;
    QLabel *labelAudioDevice;
    QComboBox *comboBoxAudioDevice;
    QLabel *label_3;
    QComboBox *comboBoxSampleRate;
    QLabel *label;
    QSpinBox *spinBoxBufferSize;
    QGroupBox *groupBox_3;
    QLabel *label_51;
    QComboBox *comboBoxMidiDevice;
    QLabel *label_6;
    QSpinBox *spinBoxMidiBaseNote;
    QGroupBox *groupBox_2;
    QLabel *label_4;
    QComboBox *comboBoxExportBitDepth;
    QLabel *label_5;
    QComboBox *comboBoxExportSampleRate;
    QDialogButtonBox *buttonBox;

    void setupUi(QDialog *DialogPreferences10);
    void retranslateUi(QDialog *DialogPreferences10);
};

// "Preferences": audio output (host API, device, rate, buffer size), MIDI input
// (device, base note) and WAVE export settings. Ok stores the eight settings and
// reopens the audio and MIDI devices; Cancel changes nothing.
class PreferencesUI : public QDialog {
    Q_OBJECT
public:
    PreferencesUI(QWidget *parent, SliceEngine *engine);

    // The choices of the two export settings, in list order.
    static QStringList exportBitDepths();
    static QStringList exportSampleRates();
    static QString deviceDefaultRateText();
    static QString noMidiDeviceText();
    // What the device list shows for a stored OutputDevice entry: "System Default" for
    // the default device, whose stored text stays "Windows Default" for old settings files.
    static QString shownDeviceName(const QString &entry);

public slots:
    void slotAccept();
    void slotReject();
    void updateAudioAPIProperties(int index);
    void updateAudioDeviceProperties(int index);

private:
    void fillForm();
    void fillDevices();
    void fillSampleRates();

    Ui_DialogPreferences10 ui;
    SliceEngine *m_pEngine;
};
