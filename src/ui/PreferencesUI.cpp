#include "PreferencesUI.h"

#include "AudioDeviceEnumerator.h"
#include "MidiInput.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <algorithm>
#include <QGridLayout>
#include <QVBoxLayout>

namespace {

// Selects the item whose text is exactly text; returns false when there is none.
bool selectText(QComboBox *box, const QString &text)
{
    const int index = box->findData(text, Qt::DisplayRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    box->setCurrentIndex(index);
    return true;
}

void selectTextOr(QComboBox *box, const QString &text, int fallback)
{
    if (!selectText(box, text) && fallback < box->count())
        box->setCurrentIndex(fallback);
}

QComboBox *combo(QWidget *parent, const char *name)
{
    auto *c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}

QLabel *makeLabel(QWidget *parent, const char *name)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

} // namespace

void Ui_DialogPreferences10::setupUi(QDialog *DialogPreferences10)
{
    if (DialogPreferences10->objectName().isEmpty())
        DialogPreferences10->setObjectName(QStringLiteral("DialogPreferences10"));
    DialogPreferences10->resize(380, 412);
    auto *gridLayout = new QGridLayout(DialogPreferences10);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));

    groupBox = new QGroupBox(DialogPreferences10);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    auto *audio = new QGridLayout(groupBox);
    label_2 = makeLabel(groupBox, "label_2");
    comboBoxAudioApi = combo(groupBox, "comboBoxAudioApi");
    labelAudioDevice = makeLabel(groupBox, "labelAudioDevice");
    comboBoxAudioDevice = combo(groupBox, "comboBoxAudioDevice");
    label_3 = makeLabel(groupBox, "label_3");
    comboBoxSampleRate = combo(groupBox, "comboBoxSampleRate");
    label = makeLabel(groupBox, "label");
    spinBoxBufferSize = new QSpinBox(groupBox);
    spinBoxBufferSize->setObjectName(QStringLiteral("spinBoxBufferSize"));
    spinBoxBufferSize->setRange(32, 4096);
    spinBoxBufferSize->setSingleStep(64);
    spinBoxBufferSize->setValue(2048);
    // Long device names must not widen the dialog beyond the screen.
    for (QComboBox *c : {comboBoxAudioApi, comboBoxAudioDevice}) {
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMinimumContentsLength(16);
    }
    audio->addWidget(label_2, 0, 0);
    audio->addWidget(comboBoxAudioApi, 0, 1);
    audio->addWidget(labelAudioDevice, 1, 0);
    audio->addWidget(comboBoxAudioDevice, 1, 1);
    audio->addWidget(label_3, 2, 0);
    audio->addWidget(comboBoxSampleRate, 2, 1);
    audio->addWidget(label, 3, 0);
    audio->addWidget(spinBoxBufferSize, 3, 1);
    audio->setColumnStretch(1, 1);
    gridLayout->addWidget(groupBox, 0, 0);

    groupBox_3 = new QGroupBox(DialogPreferences10);
    groupBox_3->setObjectName(QStringLiteral("groupBox_3"));
    auto *midi = new QGridLayout(groupBox_3);
    label_51 = makeLabel(groupBox_3, "label_51");
    comboBoxMidiDevice = combo(groupBox_3, "comboBoxMidiDevice");
    comboBoxMidiDevice->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    comboBoxMidiDevice->setMinimumContentsLength(16);
    label_6 = makeLabel(groupBox_3, "label_6");
    spinBoxMidiBaseNote = new QSpinBox(groupBox_3);
    spinBoxMidiBaseNote->setObjectName(QStringLiteral("spinBoxMidiBaseNote"));
    spinBoxMidiBaseNote->setRange(0, 127);
    spinBoxMidiBaseNote->setSingleStep(12);
    spinBoxMidiBaseNote->setValue(36);
    midi->addWidget(label_51, 0, 0);
    midi->addWidget(comboBoxMidiDevice, 0, 1);
    midi->addWidget(label_6, 1, 0);
    midi->addWidget(spinBoxMidiBaseNote, 1, 1);
    midi->setColumnStretch(1, 1);
    gridLayout->addWidget(groupBox_3, 1, 0);

    groupBox_2 = new QGroupBox(DialogPreferences10);
    groupBox_2->setObjectName(QStringLiteral("groupBox_2"));
    auto *wave = new QGridLayout(groupBox_2);
    label_4 = makeLabel(groupBox_2, "label_4");
    comboBoxExportBitDepth = combo(groupBox_2, "comboBoxExportBitDepth");
    label_5 = makeLabel(groupBox_2, "label_5");
    comboBoxExportSampleRate = combo(groupBox_2, "comboBoxExportSampleRate");
    wave->addWidget(label_4, 0, 0);
    wave->addWidget(comboBoxExportBitDepth, 0, 1);
    wave->addWidget(label_5, 1, 0);
    wave->addWidget(comboBoxExportSampleRate, 1, 1);
    wave->setColumnStretch(1, 1);
    gridLayout->addWidget(groupBox_2, 2, 0);


    buttonBox = new QDialogButtonBox(DialogPreferences10);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    gridLayout->addWidget(buttonBox, 3, 0);
    gridLayout->setRowStretch(3, 1);

    retranslateUi(DialogPreferences10);
    // The three groups share one label column width so that the fields line up.
    const QList<QLabel *> labels{label_2, labelAudioDevice, label_3, label, label_51, label_6, label_4, label_5};
    int labelWidth = 0;
    for (QLabel *l : labels)
        labelWidth = qMax(labelWidth, l->sizeHint().width());
    for (QLabel *l : labels)
        l->setMinimumWidth(labelWidth);
    // The sample rate list starts with its longest text; show it whole.
    comboBoxSampleRate->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    comboBoxSampleRate->addItem(QCoreApplication::translate("DialogPreferences10", "Device Default (Recommended)"));
    DialogPreferences10->resize(DialogPreferences10->sizeHint().expandedTo(QSize(380, 412)));
    comboBoxSampleRate->clear();
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, DialogPreferences10, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, DialogPreferences10, &QDialog::reject);
}

void Ui_DialogPreferences10::retranslateUi(QDialog *DialogPreferences10)
{
    auto tr = [](const char *s) { return QCoreApplication::translate("DialogPreferences10", s); };
    DialogPreferences10->setWindowTitle(tr("Preferences"));
    groupBox->setTitle(tr("Audio Device Settings"));
    label_2->setText(tr("Audio API:"));
    labelAudioDevice->setText(tr("Audio Device:"));
    label_3->setText(tr("Sample Rate:"));
    label->setText(tr("Buffer Size:"));
    spinBoxBufferSize->setSuffix(tr(" samples"));
    groupBox_3->setTitle(tr("MIDI Device Settings"));
    label_51->setText(tr("MIDI Controller:"));
    label_6->setText(tr("MIDI Base Note:"));
    groupBox_2->setTitle(tr("WAVE Export"));
    label_4->setText(tr("Bit Depth:"));
    label_5->setText(tr("Sample Rate:"));
}

PreferencesUI::PreferencesUI(QWidget *parent, SliceEngine *engine)
    : QDialog(parent, Qt::Sheet), m_pEngine(engine)
{
    ui.setupUi(this);
    // slotAccept and slotReject close the dialog themselves; with the form's own
    // connections as well, the dialog would finish twice.
    disconnect(ui.buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    disconnect(ui.buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui.buttonBox, &QDialogButtonBox::accepted, this, &PreferencesUI::slotAccept);
    connect(ui.buttonBox, &QDialogButtonBox::rejected, this, &PreferencesUI::slotReject);
    // JACK chosen but not playing: a server started since is used (and listed) at once.
    if (m_pEngine)
        m_pEngine->refreshAudioSystems();
    fillForm();
    connect(ui.comboBoxAudioDevice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PreferencesUI::updateAudioDeviceProperties);
    connect(ui.comboBoxAudioApi, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PreferencesUI::updateAudioAPIProperties);
}

QStringList PreferencesUI::exportBitDepths()
{
    return {QStringLiteral("8 bit"), QStringLiteral("16 bit"), QStringLiteral("24 bit"), QStringLiteral("32 bit")};
}

QStringList PreferencesUI::exportSampleRates()
{
    return {QStringLiteral("Original"), QStringLiteral("22500"), QStringLiteral("44100"),
            QStringLiteral("48000"),    QStringLiteral("96000"), QStringLiteral("192000")};
}

QString PreferencesUI::deviceDefaultRateText() { return QStringLiteral("Device Default (Recommended)"); }

QString PreferencesUI::noMidiDeviceText() { return QStringLiteral("None"); }

QString PreferencesUI::shownDeviceName(const QString &entry)
{
    return entry == QLatin1String(kDefaultDeviceEntry) ? tr("System Default") : entry;
}

void PreferencesUI::fillForm()
{
    Settings &settings = Settings::instance();

    ui.comboBoxMidiDevice->clear();
    ui.comboBoxMidiDevice->addItems(midiDeviceList());
    ui.comboBoxMidiDevice->addItem(noMidiDeviceText());
    selectTextOr(ui.comboBoxMidiDevice, settings.value(QStringLiteral("MidiDevice")), 0);
    bool ok = false;
    const int baseNote = settings.value(QStringLiteral("MidiDeviceBaseNote")).toInt(&ok);
    if (ok)
        ui.spinBoxMidiBaseNote->setValue(baseNote);

    ui.comboBoxAudioApi->clear();
    ui.comboBoxAudioApi->addItems(hostApiNames());
    if (!selectText(ui.comboBoxAudioApi, settings.value(QStringLiteral("AudioDeviceAPI"))))
        selectText(ui.comboBoxAudioApi, defaultHostApiName());

    fillDevices();

    int bufferSize = settings.value(QStringLiteral("AudioDeviceBufferSize")).toInt();
    if (bufferSize < 1)
        bufferSize = defaultBufferSize(ui.comboBoxAudioApi->currentIndex());
    ui.spinBoxBufferSize->setValue(bufferSize);

    fillSampleRates();

    ui.comboBoxExportBitDepth->clear();
    ui.comboBoxExportBitDepth->addItems(exportBitDepths());
    selectTextOr(ui.comboBoxExportBitDepth, settings.value(QStringLiteral("WaveExportBitDepth")), 1);
    ui.comboBoxExportSampleRate->clear();
    ui.comboBoxExportSampleRate->addItems(exportSampleRates());
    selectTextOr(ui.comboBoxExportSampleRate, settings.value(QStringLiteral("WaveExportSampleRate")), 0);
}

void PreferencesUI::fillDevices()
{
    // Each entry keeps the text stored in the settings as its data; only the default
    // device is shown under its Linux name.
    ui.comboBoxAudioDevice->clear();
    for (const QString &entry : deviceList(ui.comboBoxAudioApi->currentText(), AudioOutput, false))
        ui.comboBoxAudioDevice->addItem(shownDeviceName(entry), entry);
    const int stored = ui.comboBoxAudioDevice->findData(Settings::instance().value(QStringLiteral("OutputDevice")));
    if (ui.comboBoxAudioDevice->count() > 0)
        ui.comboBoxAudioDevice->setCurrentIndex(std::max(stored, 0));
}

void PreferencesUI::fillSampleRates()
{
    ui.comboBoxSampleRate->clear();
    ui.comboBoxSampleRate->addItem(deviceDefaultRateText());
    const QList<int> rates = supportedSampleRates(ui.comboBoxAudioDevice->currentData().toString(),
                                                  ui.comboBoxAudioApi->currentText(), -1, false);
    for (int rate : rates)
        ui.comboBoxSampleRate->addItem(QString::number(rate));
    selectTextOr(ui.comboBoxSampleRate, Settings::instance().value(QStringLiteral("AudioDeviceSampleRate")), 0);
}

void PreferencesUI::updateAudioAPIProperties(int index)
{
    Q_UNUSED(index);
    fillDevices();
}

void PreferencesUI::updateAudioDeviceProperties(int index)
{
    if (index >= 0)
        fillSampleRates();
}

void PreferencesUI::slotAccept()
{
    Settings &settings = Settings::instance();
    settings.set(QStringLiteral("OutputDevice"), ui.comboBoxAudioDevice->currentData().toString());
    settings.set(QStringLiteral("AudioDeviceSampleRate"), ui.comboBoxSampleRate->currentText());
    settings.set(QStringLiteral("AudioDeviceBufferSize"), QString::number(ui.spinBoxBufferSize->value()));
    settings.set(QStringLiteral("WaveExportBitDepth"), ui.comboBoxExportBitDepth->currentText());
    settings.set(QStringLiteral("WaveExportSampleRate"), ui.comboBoxExportSampleRate->currentText());
    settings.set(QStringLiteral("AudioDeviceAPI"), ui.comboBoxAudioApi->currentText());
    settings.set(QStringLiteral("MidiDevice"), ui.comboBoxMidiDevice->currentText());
    settings.set(QStringLiteral("MidiDeviceBaseNote"), QString::number(ui.spinBoxMidiBaseNote->value()));
    // Written now, not only at quit: a crash would otherwise lose them, and a file that
    // cannot be written is said while the user can still do something about it.
    if (!settings.save())
        QMessageBox::warning(this, tr("Preferences"),
                             tr("The preferences could not be saved to %1. They apply until Quillory quits.")
                                 .arg(QDir::toNativeSeparators(Settings::filePath())));
    if (m_pEngine) {
        m_pEngine->closeAudioDevice();
        m_pEngine->setupAudioDevice();
        m_pEngine->stopMidi();
        m_pEngine->startMidi();
    }
    QDialog::accept();
}

void PreferencesUI::slotReject() { QDialog::reject(); }
