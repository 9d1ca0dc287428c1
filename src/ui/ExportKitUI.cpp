#include "ExportKitUI.h"

#include "Settings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

const char *const ExportKitUI::kFormatKey = "kit_export_format";
const char *const ExportKitUI::kFolderKey = "kit_export_folder";
const char *const ExportKitUI::kNameKey = "kit_export_name";
const char *const ExportKitUI::kNameLoopKey = "kit_export_name_loop";
const char *const ExportKitUI::kStartNoteKey = "kit_export_start_note";

namespace {
QString noteName(int note) {
    static const char *names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromLatin1(names[note % 12]) + QString::number(note / 12 - 2);
}
} // namespace

ExportKitUI::ExportKitUI(const QString &loopFileName, QWidget *parent)
    : QDialog(parent), m_sLoopFileName(QFileInfo(loopFileName).absoluteFilePath()) {
    setObjectName(QStringLiteral("DlgExportKit"));
    setWindowTitle(tr("Export Kit"));

    m_comboBoxFormat = new QComboBox(this);
    m_comboBoxFormat->setObjectName(QStringLiteral("comboBoxFormat"));
    for (auto kind : {KitExporter::Kind::Sfz, KitExporter::Kind::Hydrogen, KitExporter::Kind::DecentSampler})
        m_comboBoxFormat->addItem(KitExporter::kindName(kind), KitExporter::kindKey(kind));
    m_lineEditFolder = new QLineEdit(this);
    m_lineEditFolder->setObjectName(QStringLiteral("lineEditFolder"));
    auto *browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName(QStringLiteral("pushButtonBrowse"));
    m_lineEditName = new QLineEdit(this);
    m_lineEditName->setObjectName(QStringLiteral("lineEditName"));
    m_spinBoxStartNote = new QSpinBox(this);
    m_spinBoxStartNote->setObjectName(QStringLiteral("spinBoxStartNote"));
    m_spinBoxStartNote->setRange(0, 127);
    m_labelNote = new QLabel(this);
    m_labelResult = new QLabel(this);
    m_labelResult->setObjectName(QStringLiteral("labelResult"));
    m_labelResult->setWordWrap(true);
    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_buttonBox->button(QDialogButtonBox::Ok)->setText(tr("Export"));

    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_lineEditFolder, 1);
    folderRow->addWidget(browse);
    auto *noteRow = new QHBoxLayout;
    noteRow->addWidget(m_spinBoxStartNote);
    noteRow->addWidget(m_labelNote, 1);
    auto *form = new QFormLayout;
    form->addRow(tr("Format:"), m_comboBoxFormat);
    form->addRow(tr("Folder:"), folderRow);
    form->addRow(tr("Name:"), m_lineEditName);
    form->addRow(tr("First slice on note:"), noteRow);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_labelResult);
    layout->addWidget(m_buttonBox);
    setMinimumWidth(460);

    const Settings &settings = Settings::instance();
    const int index = m_comboBoxFormat->findData(settings.value(QLatin1String(kFormatKey)));
    m_comboBoxFormat->setCurrentIndex(std::max(0, index));
    const QString folder = settings.value(QLatin1String(kFolderKey));
    m_lineEditFolder->setText(
        QDir::toNativeSeparators(!folder.isEmpty() ? folder : QFileInfo(m_sLoopFileName).absolutePath()));
    const bool sameLoop = settings.value(QLatin1String(kNameLoopKey)) == m_sLoopFileName;
    const QString name = settings.value(QLatin1String(kNameKey));
    m_lineEditName->setText(sameLoop && !name.isEmpty() ? name
                                                        : QFileInfo(m_sLoopFileName).completeBaseName());
    bool ok = false;
    const int note = settings.value(QLatin1String(kStartNoteKey)).toInt(&ok);
    m_spinBoxStartNote->setValue(ok && note >= 0 && note <= 127 ? note : 36);

    connect(browse, &QPushButton::clicked, this, &ExportKitUI::slotBrowse);
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &ExportKitUI::accept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &ExportKitUI::reject);
    connect(m_comboBoxFormat, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ExportKitUI::slotUpdate);
    connect(m_lineEditFolder, &QLineEdit::textChanged, this, &ExportKitUI::slotUpdate);
    connect(m_lineEditName, &QLineEdit::textChanged, this, &ExportKitUI::slotUpdate);
    connect(m_spinBoxStartNote, QOverload<int>::of(&QSpinBox::valueChanged), this, &ExportKitUI::slotUpdate);
    slotUpdate();
}

KitExporter::Options ExportKitUI::options() const {
    KitExporter::Options o;
    KitExporter::kindFromKey(m_comboBoxFormat->currentData().toString(), &o.kind);
    o.folder = QDir::fromNativeSeparators(m_lineEditFolder->text().trimmed());
    o.name = KitExporter::cleanName(m_lineEditName->text(), o.kind);
    // Hydrogen plays a kit from MIDI by instrument number, note 36 upwards, unless the user
    // has changed a preference of its own: a kit on another note would sound the wrong
    // slices from its own MIDI file.
    o.startNote = o.kind == KitExporter::Kind::Hydrogen ? kHydrogenFirstNote : m_spinBoxStartNote->value();
    return o;
}

void ExportKitUI::accept() {
    const KitExporter::Options o = options();
    Settings &settings = Settings::instance();
    settings.set(QLatin1String(kFormatKey), KitExporter::kindKey(o.kind));
    settings.set(QLatin1String(kFolderKey), o.folder);
    settings.set(QLatin1String(kNameKey), o.name);
    settings.set(QLatin1String(kNameLoopKey), m_sLoopFileName);
    if (m_spinBoxStartNote->isEnabled())
        settings.set(QLatin1String(kStartNoteKey), QString::number(o.startNote));
    settings.save();
    QDialog::accept();
}

void ExportKitUI::slotBrowse() {
    const QString folder =
        QFileDialog::getExistingDirectory(this, tr("Kit Folder"), m_lineEditFolder->text());
    if (!folder.isEmpty())
        m_lineEditFolder->setText(QDir::toNativeSeparators(folder));
}

void ExportKitUI::slotUpdate() {
    const KitExporter::Options o = options();
    m_spinBoxStartNote->setEnabled(o.kind != KitExporter::Kind::Hydrogen);
    m_labelNote->setText(o.kind == KitExporter::Kind::Hydrogen
                             ? tr("%1: Hydrogen starts every kit there").arg(noteName(o.startNote))
                             : noteName(o.startNote));
    const bool valid = !o.name.isEmpty() && !o.folder.isEmpty();
    m_buttonBox->button(QDialogButtonBox::Ok)->setEnabled(valid);
    if (!valid) {
        m_labelResult->setText(tr("Choose a folder and a name."));
        return;
    }
    const QString file = o.name + QLatin1Char('.') + KitExporter::kitSuffix(o.kind);
    m_labelResult->setText(o.kind == KitExporter::Kind::Hydrogen
                               ? tr("Writes %1 and %2.mid.").arg(file, o.name)
                               : tr("Writes %1, the folder \"%2 samples\" and %2.mid.").arg(file, o.name));
}
