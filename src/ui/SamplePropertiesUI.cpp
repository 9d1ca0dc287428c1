#include "SamplePropertiesUI.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

void Ui_DlgSampleProperties::setupUi(QDialog *DlgSampleProperties)
{
    if (DlgSampleProperties->objectName().isEmpty())
        DlgSampleProperties->setObjectName(QStringLiteral("DlgSampleProperties"));
    DlgSampleProperties->resize(397, 269);
    auto *verticalLayout = new QVBoxLayout(DlgSampleProperties);

    labelFilename = new QLabel(DlgSampleProperties);
    labelFilename->setObjectName(QStringLiteral("labelFilename"));
    labelFilename->setFixedWidth(338);
    QFont bold = labelFilename->font();
    bold.setBold(true);
    labelFilename->setFont(bold);
    verticalLayout->addWidget(labelFilename);

    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    label_3 = new QLabel(DlgSampleProperties);
    label_3->setObjectName(QStringLiteral("label_3"));
    labelDuration = new QLabel(DlgSampleProperties);
    labelDuration->setObjectName(QStringLiteral("labelDuration"));
    label_4 = new QLabel(DlgSampleProperties);
    label_4->setObjectName(QStringLiteral("label_4"));
    labelSampleRate = new QLabel(DlgSampleProperties);
    labelSampleRate->setObjectName(QStringLiteral("labelSampleRate"));
    labelNumSamples = new QLabel(DlgSampleProperties);
    labelNumSamples->setObjectName(QStringLiteral("labelNumSamples"));
    label_2 = new QLabel(DlgSampleProperties);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignTop);
    doubleSpinBoxTempo = new QDoubleSpinBox(DlgSampleProperties);
    doubleSpinBoxTempo->setObjectName(QStringLiteral("doubleSpinBoxTempo"));
    doubleSpinBoxTempo->setRange(0.0, 300.0);
    doubleSpinBoxTempo->setValue(120.0);
    doubleSpinBoxTempo->setMaximumWidth(72);
    pushButtonHalve = new QPushButton(DlgSampleProperties);
    pushButtonHalve->setObjectName(QStringLiteral("pushButtonHalve"));
    pushButtonDouble = new QPushButton(DlgSampleProperties);
    pushButtonDouble->setObjectName(QStringLiteral("pushButtonDouble"));

    grid->addWidget(label_3, 0, 0);
    grid->addWidget(labelDuration, 0, 1, 1, 3);
    grid->addWidget(label_4, 1, 0);
    grid->addWidget(labelSampleRate, 1, 1, 1, 3);
    grid->addWidget(labelNumSamples, 2, 1, 1, 3);
    grid->addWidget(label_2, 3, 0);
    grid->addWidget(doubleSpinBoxTempo, 3, 1, Qt::AlignTop);
    grid->addWidget(pushButtonHalve, 3, 2, Qt::AlignTop);
    grid->addWidget(pushButtonDouble, 3, 3, Qt::AlignTop);
    labelTempoConfidence = new QLabel(DlgSampleProperties);
    labelTempoConfidence->setObjectName(QStringLiteral("labelTempoConfidence"));
    grid->addWidget(labelTempoConfidence, 4, 1, 1, 4);
    grid->setColumnStretch(4, 1);
    verticalLayout->addLayout(grid);
    verticalLayout->addStretch(1);

    auto *bottom = new QHBoxLayout;
    pushButtonOpenLocation = new QPushButton(DlgSampleProperties);
    pushButtonOpenLocation->setObjectName(QStringLiteral("pushButtonOpenLocation"));
    bottom->addWidget(pushButtonOpenLocation);
    buttonBox = new QDialogButtonBox(DlgSampleProperties);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->setOrientation(Qt::Horizontal);
    buttonBox->setStandardButtons(QDialogButtonBox::Cancel | QDialogButtonBox::Ok);
    bottom->addWidget(buttonBox);
    verticalLayout->addLayout(bottom);

    retranslateUi(DlgSampleProperties);
    QObject::connect(buttonBox, &QDialogButtonBox::accepted, DlgSampleProperties, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, DlgSampleProperties, &QDialog::reject);
}

void Ui_DlgSampleProperties::retranslateUi(QDialog *DlgSampleProperties)
{
    auto tr = [](const char *s) { return QCoreApplication::translate("DlgSampleProperties", s); };
    DlgSampleProperties->setWindowTitle(tr("Sample Properties"));
    labelFilename->setText(tr("Filename"));
    label_3->setText(tr("Duration:"));
    labelDuration->setText(tr("Duration"));
    label_4->setText(tr("Sample Rate:"));
    labelSampleRate->setText(tr("44100 Hz"));
    labelNumSamples->setText(tr("Num Samples"));
    label_2->setText(tr("Tempo:\n(Original)"));
    pushButtonHalve->setText(tr("Halve"));
    pushButtonDouble->setText(tr("Double"));
    pushButtonOpenLocation->setText(tr("Open Location"));
}

SamplePropertiesUI::SamplePropertiesUI(QWidget *parent, QSharedPointer<Slice> loop)
    : QDialog(parent), m_pSlice(std::move(loop))
{
    ui.setupUi(this);
    if (!m_pSlice) {
        // Nothing to store the tempo in: Ok stays visibly inert.
        ui.buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
        return;
    }
    connect(ui.pushButtonOpenLocation, &QPushButton::clicked, this, &SamplePropertiesUI::slotOpenLocation);
    connect(ui.pushButtonDouble, &QPushButton::clicked, this, &SamplePropertiesUI::slotDoubleBpm);
    connect(ui.pushButtonHalve, &QPushButton::clicked, this, &SamplePropertiesUI::slotHalveBpm);

    const QString path = m_pSlice->fileName();
    ui.labelFilename->setText(elidedFileName(path));
    ui.labelFilename->setToolTip(path);
    ui.labelDuration->setText(formatDuration(m_pSlice->durationSeconds()));
    // The file's own rate: the positions and the duration are counted in it.
    ui.labelSampleRate->setText(tr("%1 Hz").arg(m_pSlice->fileSampleRate()));
    // Samples per channel, as every other audio program counts them: the loop holds its
    // audio as interleaved stereo, whose count is twice that whether the file is mono or not.
    ui.labelNumSamples->setText(tr("%1 samples").arg(m_pSlice->length() / 2));
    ui.doubleSpinBoxTempo->setValue(m_pSlice->bpm());
    m_dShownBpm = ui.doubleSpinBoxTempo->value();
    const TempoAnalysis analysis = m_pSlice->tempoAnalysis();
    if (!analysis.isEmpty()) {
        QString text = tr("Detected %1 BPM, confidence %2")
                           .arg(analysis.detectedBpm, 0, 'f', 2)
                           .arg(analysis.confidence, 0, 'f', 2);
        const QString fit = TempoText::fit(analysis.bars, analysis.beatsPerBar, analysis.detectedBpm);
        if (!fit.isEmpty())
            text += QStringLiteral("\n") + fit;
        ui.labelTempoConfidence->setText(text);
    }
}

QString SamplePropertiesUI::elidedFileName(const QString &path)
{
    if (path.length() <= 40)
        return path;
    return path.left(10) + QStringLiteral("...") + path.right(30);
}

QString SamplePropertiesUI::formatDuration(double seconds)
{
    // Whole milliseconds first, so that 59.9996 s becomes 01m:00s:000ms and never 00m:59s:1000ms.
    const qint64 totalMs = std::isfinite(seconds) && seconds > 0.0 ? qint64(std::llround(seconds * 1000.0)) : 0;
    return tr("%1m:%2s:%3ms")
        .arg(totalMs / 60000, 2, 10, QLatin1Char('0'))
        .arg((totalMs / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg(totalMs % 1000, 3, 10, QLatin1Char('0'));
}

void SamplePropertiesUI::slotOpenLocation()
{
    if (m_pSlice)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_pSlice->fileName()).absolutePath()));
}

void SamplePropertiesUI::slotDoubleBpm() { ui.doubleSpinBoxTempo->setValue(ui.doubleSpinBoxTempo->value() * 2.0); }

void SamplePropertiesUI::slotHalveBpm() { ui.doubleSpinBoxTempo->setValue(ui.doubleSpinBoxTempo->value() * 0.5); }

void SamplePropertiesUI::accept()
{
    if (!m_pSlice)
        return;
    // The box shows two decimals within 0 to 300: Ok on an untouched box keeps the tempo
    // as it was (a tapped 123.4567, a tempo above the range) instead of storing its rounding.
    // 0 is the loop model's "no tempo"; everything that divides by the tempo checks for it.
    if (ui.doubleSpinBoxTempo->value() != m_dShownBpm)
        m_pSlice->setBpm(ui.doubleSpinBoxTempo->value());
    QDialog::accept();
}
