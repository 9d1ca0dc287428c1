#pragma once

#include "KitExporter.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// "Export Kit": the kit's format, folder, name and first note. Format, folder and start
// note come back from the last use; the name too while the same loop is open, otherwise
// the loop's own name.
class ExportKitUI : public QDialog {
    Q_OBJECT
public:
    ExportKitUI(const QString &loopFileName, QWidget *parent = nullptr);

    KitExporter::Options options() const;

    // The settings keys the dialog keeps its choices under.
    static const char *const kFormatKey;
    static const char *const kFolderKey;
    static const char *const kNameKey;
    static const char *const kNameLoopKey;
    static const char *const kStartNoteKey;
    // The note of a Hydrogen kit's first instrument in Hydrogen's own MIDI mapping.
    static constexpr int kHydrogenFirstNote = 36;

public slots:
    void accept() override;

private slots:
    void slotBrowse();
    void slotUpdate();

private:
    QString m_sLoopFileName;
    QComboBox *m_comboBoxFormat;
    QLineEdit *m_lineEditFolder;
    QLineEdit *m_lineEditName;
    QSpinBox *m_spinBoxStartNote;
    QLabel *m_labelNote;
    QLabel *m_labelResult;
    QDialogButtonBox *m_buttonBox;
};
