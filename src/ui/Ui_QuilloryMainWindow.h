#pragma once

#include <QAction>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

// The main window's static layout, written in the shape of a designer form: widgets
// and actions are plain members created by setupUi, texts set by retranslateUi in the
// "QuilloryMainWindow" translation context. Placeholder frames are replaced by the
// real views when the window is constructed.
class Ui_QuilloryMainWindow {
public:
    QAction *actionOpen, *actionSaveAs, *actionSaveSlices, *actionSaveSlicesAsMidi;
    QAction *actionOpenSliceTemplate, *actionSaveSliceTemplateAs, *actionQuit;
    QAction *actionCut, *actionCopy, *actionPaste, *actionDelete, *actionSelectAll;
    QAction *actionHide, *actionUnhide_Last, *actionUnhide_All, *actionRaise, *actionLower;
    QAction *actionSampleProperties, *actionPreferences;
    QAction *actionSnapToZeroCrossings, *actionFadeInOutSlices;
    QAction *action4, *action8, *action16, *action32, *action64, *actionAdvancedSlicing;
    QAction *actionUserManual, *actionAbout;
    QAction *actionPlay, *actionEditMode, *actionSliceAtCursor, *actionSlice4, *actionSlice8, *actionSlice16;
    QAction *actionSliceAtTransients;
    QAction *actionSliceClear, *actionTimeStretch, *actionDragExport, *actionQuickExport;
    QAction *actionNewProject, *actionOpenProject, *actionSaveProject;
    // Stands where the undo and redo actions and the Effects submenu go.
    QAction *actionEditPlaceholder;

    QWidget *centralwidget;
    QVBoxLayout *verticalLayout_2;
    QFrame *frameTrevant;
    QVBoxLayout *verticalLayout;
    QFrame *frameQuickControls;
    QHBoxLayout *horizontalLayout_2;
    QLabel *label;
    QStackedWidget *stackedWidgetBpm;
    QWidget *page;
    QDoubleSpinBox *doubleSpinBoxBpm;
    QWidget *page_2;
    QProgressBar *progressBarBpm;
    QLabel *label_2;
    QSpinBox *spinBoxPitch;
    // Shown only while the slice points come from slicing at transients.
    QWidget *widgetTransientSensitivity;
    QLabel *labelTransientSensitivity;
    QSlider *sliderTransientSensitivity;
    QLabel *labelTransientSensitivityValue;
    QPushButton *pushButtonResetQuickControls;
    QFrame *frameTransport;
    QFrame *frameTrevantRenderer;
    QFrame *frameDragExport;
    QHBoxLayout *horizontalLayout;
    QLabel *labelDragExport;
    QHBoxLayout *horizontalLayoutDragExportOptions;
    QRadioButton *radioButtonDragExportSingle;
    QRadioButton *radioButtonDragExportAll;
    QFrame *frameZoombar;

    QMenuBar *menubar;
    QMenu *menuFile, *menuEdit, *menuEffects, *menuSlice, *menuSlice_into, *menuHelp;
    QStatusBar *statusbar;
    QToolBar *toolBar;

    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

namespace Ui {
using QuilloryMainWindow = Ui_QuilloryMainWindow;
}
