#include "AdvancedSlicingUI.h"

#include "Settings.h"
#include "SliceByBarsCommand.h"
#include "SliceByBeatsCommand.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QUndoStack>
#include <QVBoxLayout>
#include <cmath>

namespace {
const char *const kTempoKey = "AdvancedSlicingTempo";
const char *const kIntervalKey = "AdvancedSlicingInterval";
const char *const kNumerKey = "AdvancedSlicingTimeSigNumer";
const char *const kDenomKey = "AdvancedSlicingTimeSigDenom";
const char *const kByBeatsKey = "AdvancedSlicingSliceByBeats";
} // namespace

void Ui_DialogAdvancedSlicing::setupUi(QDialog *DialogAdvancedSlicing)
{
    if (DialogAdvancedSlicing->objectName().isEmpty())
        DialogAdvancedSlicing->setObjectName(QStringLiteral("DialogAdvancedSlicing"));
    DialogAdvancedSlicing->resize(309, 279);
    DialogAdvancedSlicing->setModal(true);
    auto *verticalLayout = new QVBoxLayout(DialogAdvancedSlicing);

    groupBox = new QGroupBox(DialogAdvancedSlicing);
    groupBox->setObjectName(QStringLiteral("groupBox"));
    groupBox->setCheckable(true);
    groupBox->setChecked(true);
    auto *form = new QFormLayout(groupBox);

    label = new QLabel(groupBox);
    label->setObjectName(QStringLiteral("label"));
    doubleSpinBoxTempo = new QDoubleSpinBox(groupBox);
    doubleSpinBoxTempo->setObjectName(QStringLiteral("doubleSpinBoxTempo"));
    doubleSpinBoxTempo->setRange(1.0, 1000.0);
    doubleSpinBoxTempo->setValue(120.0);
    form->addRow(label, doubleSpinBoxTempo);

    label_4 = new QLabel(groupBox);
    label_4->setObjectName(QStringLiteral("label_4"));
    spinBoxTimeSigNumer = new QSpinBox(groupBox);
    spinBoxTimeSigNumer->setObjectName(QStringLiteral("spinBoxTimeSigNumer"));
    spinBoxTimeSigNumer->setMinimum(1);
    spinBoxTimeSigNumer->setValue(4);
    label_5 = new QLabel(groupBox);
    label_5->setObjectName(QStringLiteral("label_5"));
    spinBoxTimeSigDenom = new QSpinBox(groupBox);
    spinBoxTimeSigDenom->setObjectName(QStringLiteral("spinBoxTimeSigDenom"));
    spinBoxTimeSigDenom->setMinimum(1);
    spinBoxTimeSigDenom->setValue(4);
    auto *sigRow = new QHBoxLayout;
    sigRow->addWidget(spinBoxTimeSigNumer);
    sigRow->addWidget(label_5);
    sigRow->addWidget(spinBoxTimeSigDenom);
    sigRow->addStretch(1);
    form->addRow(label_4, sigRow);

    label_2 = new QLabel(groupBox);
    label_2->setObjectName(QStringLiteral("label_2"));
    radioButtonBars = new QRadioButton(groupBox);
    radioButtonBars->setObjectName(QStringLiteral("radioButtonBars"));
    radioButtonBars->setChecked(true);
    radioButtonBeats = new QRadioButton(groupBox);
    radioButtonBeats->setObjectName(QStringLiteral("radioButtonBeats"));
    auto *byRow = new QHBoxLayout;
    byRow->addWidget(radioButtonBars);
    byRow->addWidget(radioButtonBeats);
    byRow->addStretch(1);
    form->addRow(label_2, byRow);

    label_3 = new QLabel(groupBox);
    label_3->setObjectName(QStringLiteral("label_3"));
    doubleSpinBoxInterval = new QDoubleSpinBox(groupBox);
    doubleSpinBoxInterval->setObjectName(QStringLiteral("doubleSpinBoxInterval"));
    doubleSpinBoxInterval->setRange(0.25, 1000.0);
    doubleSpinBoxInterval->setSingleStep(4.0);
    doubleSpinBoxInterval->setValue(16.0);
    form->addRow(label_3, doubleSpinBoxInterval);
    verticalLayout->addWidget(groupBox);

    groupBoxTransients = new QGroupBox(DialogAdvancedSlicing);
    groupBoxTransients->setObjectName(QStringLiteral("groupBoxTransients"));
    groupBoxTransients->setCheckable(true);
    groupBoxTransients->setChecked(false);
    auto *transientForm = new QFormLayout(groupBoxTransients);
    labelMinSliceLength = new QLabel(groupBoxTransients);
    labelMinSliceLength->setObjectName(QStringLiteral("labelMinSliceLength"));
    doubleSpinBoxMinSliceLength = new QDoubleSpinBox(groupBoxTransients);
    doubleSpinBoxMinSliceLength->setObjectName(QStringLiteral("doubleSpinBoxMinSliceLength"));
    doubleSpinBoxMinSliceLength->setDecimals(0);
    doubleSpinBoxMinSliceLength->setRange(0.0, Settings::maxTransientMinLengthMs);
    doubleSpinBoxMinSliceLength->setSingleStep(5.0);
    doubleSpinBoxMinSliceLength->setValue(Settings::defaultTransientMinLengthMs);
    transientForm->addRow(labelMinSliceLength, doubleSpinBoxMinSliceLength);
    verticalLayout->addWidget(groupBoxTransients);

    labelSlicingAction = new QLabel(DialogAdvancedSlicing);
    labelSlicingAction->setObjectName(QStringLiteral("labelSlicingAction"));
    labelSlicingAction->setAlignment(Qt::AlignCenter);
    verticalLayout->addWidget(labelSlicingAction);
    verticalLayout->addStretch(1);

    buttonBox = new QDialogButtonBox(DialogAdvancedSlicing);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    verticalLayout->addWidget(buttonBox);

    retranslateUi(DialogAdvancedSlicing);
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, DialogAdvancedSlicing, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, DialogAdvancedSlicing, &QDialog::reject);
}

void Ui_DialogAdvancedSlicing::retranslateUi(QDialog *DialogAdvancedSlicing)
{
    auto tr = [](const char *s) { return QCoreApplication::translate("DialogAdvancedSlicing", s); };
    DialogAdvancedSlicing->setWindowTitle(tr("Advanced Slicing"));
    groupBox->setTitle(tr("Slicing at Intervals"));
    label->setText(tr("Tempo (BPM):"));
    label_4->setText(tr("Time Signature:"));
    label_5->setText(tr("/"));
    label_2->setText(tr("Slice by:"));
    radioButtonBars->setText(tr("Bars"));
    radioButtonBeats->setText(tr("Beats"));
    label_3->setText(tr("Interval:"));
    groupBoxTransients->setTitle(tr("Slicing at Transients"));
    labelMinSliceLength->setText(tr("Shortest slice:"));
    doubleSpinBoxMinSliceLength->setSuffix(tr(" ms"));
    labelSlicingAction->setText(tr("Slice every N beats"));
}

AdvancedSlicingUI::AdvancedSlicingUI(QWidget *parent, Trevant *slicer, QUndoStack *stack)
    : QDialog(parent), m_pSlicer(slicer), m_pUndoStack(stack)
{
    ui.setupUi(this);
    m_sliceByGroup.addButton(ui.radioButtonBars);
    m_sliceByGroup.addButton(ui.radioButtonBeats);
    connect(ui.radioButtonBeats, &QRadioButton::toggled, this, &AdvancedSlicingUI::updateActionText);
    connect(ui.doubleSpinBoxTempo, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &AdvancedSlicingUI::updateActionText);
    connect(ui.doubleSpinBoxInterval, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &AdvancedSlicingUI::updateActionText);
    connect(ui.doubleSpinBoxMinSliceLength, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &AdvancedSlicingUI::updateActionText);
    // The two ways of slicing exclude each other; Ok applies the one that is ticked.
    connect(ui.groupBox, &QGroupBox::toggled, this, [this](bool on) {
        const QSignalBlocker blocker(ui.groupBoxTransients);
        ui.groupBoxTransients->setChecked(!on);
        updateActionText();
    });
    connect(ui.groupBoxTransients, &QGroupBox::toggled, this, [this](bool on) {
        const QSignalBlocker blocker(ui.groupBox);
        ui.groupBox->setChecked(!on);
        updateActionText();
    });
    loadSettings();
    updateActionText();
}

void AdvancedSlicingUI::loadSettings()
{
    if (m_pSlicer) {
        if (const SlicePtr s = m_pSlicer->currentSlice()) {
            const double effective = s->effectiveBpm();
            if (s->bpm() > 0.0 && std::isfinite(effective) && effective > 0.0)
                ui.doubleSpinBoxTempo->setValue(effective);
        }
    }
    Settings &settings = Settings::instance();
    bool ok = false;
    const double interval = settings.value(QLatin1String(kIntervalKey)).toDouble(&ok);
    ui.doubleSpinBoxInterval->setValue(ok ? interval : 4.0);
    const int numer = settings.value(QLatin1String(kNumerKey)).toInt(&ok);
    ui.spinBoxTimeSigNumer->setValue(ok ? numer : 4);
    const int denom = settings.value(QLatin1String(kDenomKey)).toInt(&ok);
    ui.spinBoxTimeSigDenom->setValue(ok ? denom : 4);
    const int byBeats = settings.value(QLatin1String(kByBeatsKey)).toInt(&ok);
    if (!ok || byBeats != 0)
        ui.radioButtonBeats->setChecked(true);
    else
        ui.radioButtonBars->setChecked(true);
    ui.doubleSpinBoxMinSliceLength->setValue(settings.transientMinLengthMs());
}

void AdvancedSlicingUI::updateActionText()
{
    if (ui.groupBoxTransients->isChecked()) {
        ui.labelSlicingAction->setText(tr("Slicing at transients, no slice shorter than %1 ms.")
                                           .arg(ui.doubleSpinBoxMinSliceLength->value()));
        return;
    }
    const double value = ui.doubleSpinBoxInterval->value();
    const QString interval = QString::number(value, 'g');
    const bool beats = ui.radioButtonBeats->isChecked();
    // "every beat", not "every 1 beats"; fractions and several keep the number.
    QString text;
    if (value == 1.0)
        text = beats ? tr("Slicing every beat.") : tr("Slicing every bar.");
    else
        text = beats ? tr("Slicing every %1 beats.").arg(interval) : tr("Slicing every %1 bars.").arg(interval);
    ui.labelSlicingAction->setText(text);
}

void AdvancedSlicingUI::storeSettings()
{
    Settings &settings = Settings::instance();
    settings.set(QLatin1String(kTempoKey), QString::number(ui.doubleSpinBoxTempo->value(), 'g', 6));
    settings.set(QLatin1String(kIntervalKey), QString::number(ui.doubleSpinBoxInterval->value(), 'g', 6));
    settings.set(QLatin1String(kNumerKey), QString::number(ui.spinBoxTimeSigNumer->value()));
    settings.set(QLatin1String(kDenomKey), QString::number(ui.spinBoxTimeSigDenom->value()));
    settings.set(QLatin1String(kByBeatsKey), ui.radioButtonBeats->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    settings.setTransientMinLengthMs(ui.doubleSpinBoxMinSliceLength->value());
}

void AdvancedSlicingUI::accept()
{
    const double tempo = ui.doubleSpinBoxTempo->value();
    const double interval = ui.doubleSpinBoxInterval->value();
    const QString intervalText = QString::number(interval, 'g');
    if (ui.groupBoxTransients->isChecked()) {
        storeSettings();
        QDialog::accept();
        emit sliceAtTransientsRequested();
        return;
    }
    if (m_pSlicer && m_pUndoStack) {
        if (ui.radioButtonBeats->isChecked()) {
            auto *command = new SliceByBeatsCommand(m_pSlicer, tempo, interval);
            command->setText(QObject::tr("slice every %1 beats").arg(intervalText));
            m_pUndoStack->push(command);
        } else if (ui.radioButtonBars->isChecked()) {
            auto *command = new SliceByBarsCommand(m_pSlicer, tempo, ui.spinBoxTimeSigNumer->value(),
                                                   ui.spinBoxTimeSigDenom->value(), interval);
            command->setText(QObject::tr("slice every %1 bars").arg(intervalText));
            m_pUndoStack->push(command);
        }
    }
    storeSettings();
    QDialog::accept();
}
