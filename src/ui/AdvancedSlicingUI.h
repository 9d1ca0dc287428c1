#pragma once

#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>

class QUndoStack;
class Trevant;

// Form "DialogAdvancedSlicing".
class Ui_DialogAdvancedSlicing {
public:
    QGroupBox *groupBox;
    QLabel *label;
    QDoubleSpinBox *doubleSpinBoxTempo;
    QLabel *label_4;
    QSpinBox *spinBoxTimeSigNumer;
    QLabel *label_5;
    QSpinBox *spinBoxTimeSigDenom;
    QLabel *label_2;
    QRadioButton *radioButtonBars;
    QRadioButton *radioButtonBeats;
    QLabel *label_3;
    QDoubleSpinBox *doubleSpinBoxInterval;
    QGroupBox *groupBoxTransients;
    QLabel *labelMinSliceLength;
    QDoubleSpinBox *doubleSpinBoxMinSliceLength;
    QLabel *labelSlicingAction;
    QDialogButtonBox *buttonBox;

    void setupUi(QDialog *DialogAdvancedSlicing);
    void retranslateUi(QDialog *DialogAdvancedSlicing);
};

// "Advanced Slicing": slices the loop every N beats or every N bars at a tempo and
// time signature, as one undoable step, or asks for slicing at transients with the
// shortest slice it allows; remembers its choices in the settings.
class AdvancedSlicingUI : public QDialog {
    Q_OBJECT
public:
    AdvancedSlicingUI(QWidget *parent, Trevant *slicer, QUndoStack *stack);

signals:
    // Ok with slicing at transients chosen; the minimum length is stored by then.
    void sliceAtTransientsRequested();

public slots:
    void updateActionText();
    void accept() override;

private:
    void loadSettings();
    void storeSettings();

    Ui_DialogAdvancedSlicing ui;
    Trevant *m_pSlicer;
    QUndoStack *m_pUndoStack;
    QButtonGroup m_sliceByGroup;
};
