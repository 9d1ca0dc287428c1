#include "Ui_QuilloryMainWindow.h"

#include "SliceCountIcon.h"

#include <QCoreApplication>
#include <QIcon>
#include <QSpacerItem>

namespace {
QString tr(const char *text) { return QCoreApplication::translate("QuilloryMainWindow", text); }

QAction *makeAction(QMainWindow *w, const char *name, const char *icon = nullptr, bool checkable = false)
{
    auto *a = new QAction(w);
    a->setObjectName(QString::fromLatin1(name));
    if (icon)
        a->setIcon(QIcon(QString::fromLatin1(icon)));
    a->setCheckable(checkable);
    return a;
}

QPalette dragExportTextPalette()
{
    QPalette p;
    p.setBrush(QPalette::Active, QPalette::WindowText, QColor(255, 255, 255));
    p.setBrush(QPalette::Inactive, QPalette::WindowText, QColor(255, 255, 255));
    p.setBrush(QPalette::Disabled, QPalette::WindowText, QColor(69, 69, 69));
    return p;
}
} // namespace

void Ui_QuilloryMainWindow::setupUi(QMainWindow *w)
{
    if (w->objectName().isEmpty())
        w->setObjectName("QuilloryMainWindow");
    w->resize(906, 421);
    w->setWindowIcon(QIcon(":/icon32.png"));
    w->setDockNestingEnabled(false);

    actionOpen = makeAction(w, "actionOpen");
    actionSaveAs = makeAction(w, "actionSaveAs");
    actionSaveSlices = makeAction(w, "actionSaveSlices");
    actionSaveSlicesAsMidi = makeAction(w, "actionSaveSlicesAsMidi");
    actionOpenSliceTemplate = makeAction(w, "actionOpenSliceTemplate");
    actionSaveSliceTemplateAs = makeAction(w, "actionSaveSliceTemplateAs");
    actionQuit = makeAction(w, "actionQuit");
    actionCut = makeAction(w, "actionCut");
    actionCopy = makeAction(w, "actionCopy");
    actionPaste = makeAction(w, "actionPaste");
    actionDelete = makeAction(w, "actionDelete");
    actionSelectAll = makeAction(w, "actionSelectAll");
    actionHide = makeAction(w, "actionHide");
    actionUnhide_Last = makeAction(w, "actionUnhide_Last");
    actionUnhide_All = makeAction(w, "actionUnhide_All");
    actionRaise = makeAction(w, "actionRaise");
    actionLower = makeAction(w, "actionLower");
    actionSampleProperties = makeAction(w, "actionSampleProperties");
    actionPreferences = makeAction(w, "actionPreferences");
    actionPreferences->setMenuRole(QAction::PreferencesRole);
    actionSnapToZeroCrossings = makeAction(w, "actionSnapToZeroCrossings", nullptr, true);
    actionSnapToZeroCrossings->setChecked(true);
    actionFadeInOutSlices = makeAction(w, "actionFadeInOutSlices", nullptr, true);
    actionFadeInOutSlices->setChecked(true);
    action4 = makeAction(w, "action4");
    action8 = makeAction(w, "action8");
    action16 = makeAction(w, "action16");
    action32 = makeAction(w, "action32");
    action64 = makeAction(w, "action64");
    actionAdvancedSlicing = makeAction(w, "actionAdvancedSlicing");
    actionUserManual = makeAction(w, "actionUserManual");
    actionAbout = makeAction(w, "actionAbout");
    actionAbout->setMenuRole(QAction::AboutRole);
    actionAbout->setIconVisibleInMenu(false);
    actionPlay = makeAction(w, "actionPlay", ":/play.png", true);
    actionEditMode = makeAction(w, "actionEditMode", ":/editmode.png", true);
    actionSliceAtCursor = makeAction(w, "actionSliceAtCursor", ":/sliceatcursor.png");
    actionSlice4 = makeAction(w, "actionSlice4");
    actionSlice4->setIcon(SliceCountIcon::make(QStringLiteral(":/slice4.png"), 4));
    actionSlice8 = makeAction(w, "actionSlice8");
    actionSlice8->setIcon(SliceCountIcon::make(QStringLiteral(":/slice8.png"), 8));
    actionSlice16 = makeAction(w, "actionSlice16");
    actionSlice16->setIcon(SliceCountIcon::make(QStringLiteral(":/slice16.png"), 16));
    actionSliceAtTransients = makeAction(w, "actionSliceAtTransients", ":/slicetransients.png");
    actionSliceClear = makeAction(w, "actionSliceClear", ":/sliceclr.png");
    actionTimeStretch = makeAction(w, "actionTimeStretch", ":/timestretch.png");
    actionDragExport = makeAction(w, "actionDragExport", ":/dragexport.png", true);
    actionQuickExport = makeAction(w, "actionQuickExport", ":/quickexport.png");
    actionNewProject = makeAction(w, "actionNewProject");
    actionOpenProject = makeAction(w, "actionOpenProject");
    actionSaveProject = makeAction(w, "actionSaveProject");
    actionEditPlaceholder = makeAction(w, "actionEditPlaceholder");

    centralwidget = new QWidget(w);
    centralwidget->setObjectName("centralwidget");
    verticalLayout_2 = new QVBoxLayout(centralwidget);
    verticalLayout_2->setObjectName("verticalLayout_2");
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    frameTrevant = new QFrame(centralwidget);
    frameTrevant->setObjectName("frameTrevant");
    frameTrevant->setFrameShape(QFrame::NoFrame);
    frameTrevant->setFrameShadow(QFrame::Plain);
    frameTrevant->setLineWidth(0);
    verticalLayout = new QVBoxLayout(frameTrevant);
    verticalLayout->setObjectName("verticalLayout");
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(0, 0, 0, 0);

    frameQuickControls = new QFrame(frameTrevant);
    frameQuickControls->setObjectName("frameQuickControls");
    frameQuickControls->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    frameQuickControls->setStyleSheet("QFrame#frameQuickControls\n{\nbackground-image: url(:/toolbargradient.png);\n}");
    horizontalLayout_2 = new QHBoxLayout(frameQuickControls);
    horizontalLayout_2->setObjectName("horizontalLayout_2");
    horizontalLayout_2->setContentsMargins(12, 9, -1, 0);
    label = new QLabel(frameQuickControls);
    label->setObjectName("label");
    label->setAutoFillBackground(false);
    horizontalLayout_2->addWidget(label);
    stackedWidgetBpm = new QStackedWidget(frameQuickControls);
    stackedWidgetBpm->setObjectName("stackedWidgetBpm");
    stackedWidgetBpm->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Minimum);
    page = new QWidget();
    page->setObjectName("page");
    auto *pageLayout = new QHBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    doubleSpinBoxBpm = new QDoubleSpinBox(page);
    doubleSpinBoxBpm->setObjectName("doubleSpinBoxBpm");
    doubleSpinBoxBpm->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    doubleSpinBoxBpm->setRange(30, 300);
    doubleSpinBoxBpm->setValue(120);
    pageLayout->addWidget(doubleSpinBoxBpm);
    stackedWidgetBpm->addWidget(page);
    page_2 = new QWidget();
    page_2->setObjectName("page_2");
    auto *page2Layout = new QHBoxLayout(page_2);
    page2Layout->setContentsMargins(0, 0, 0, 0);
    progressBarBpm = new QProgressBar(page_2);
    progressBarBpm->setObjectName("progressBarBpm");
    progressBarBpm->setValue(0);
    // Shown once a loop's tempo is being detected; before any file there is nothing to measure.
    progressBarBpm->hide();
    page2Layout->addWidget(progressBarBpm);
    stackedWidgetBpm->addWidget(page_2);
    stackedWidgetBpm->setCurrentIndex(1);
    horizontalLayout_2->addWidget(stackedWidgetBpm);
    label_2 = new QLabel(frameQuickControls);
    label_2->setObjectName("label_2");
    horizontalLayout_2->addWidget(label_2);
    spinBoxPitch = new QSpinBox(frameQuickControls);
    spinBoxPitch->setObjectName("spinBoxPitch");
    spinBoxPitch->setRange(-24, 24);
    horizontalLayout_2->addWidget(spinBoxPitch);
    widgetTransientSensitivity = new QWidget(frameQuickControls);
    widgetTransientSensitivity->setObjectName("widgetTransientSensitivity");
    auto *sensitivityLayout = new QHBoxLayout(widgetTransientSensitivity);
    sensitivityLayout->setContentsMargins(12, 0, 0, 0);
    labelTransientSensitivity = new QLabel(widgetTransientSensitivity);
    labelTransientSensitivity->setObjectName("labelTransientSensitivity");
    sensitivityLayout->addWidget(labelTransientSensitivity);
    sliderTransientSensitivity = new QSlider(Qt::Horizontal, widgetTransientSensitivity);
    sliderTransientSensitivity->setObjectName("sliderTransientSensitivity");
    sliderTransientSensitivity->setRange(0, 100);
    sliderTransientSensitivity->setPageStep(10);
    sliderTransientSensitivity->setMinimumWidth(160);
    sensitivityLayout->addWidget(sliderTransientSensitivity);
    labelTransientSensitivityValue = new QLabel(widgetTransientSensitivity);
    labelTransientSensitivityValue->setObjectName("labelTransientSensitivityValue");
    labelTransientSensitivityValue->setMinimumWidth(
        labelTransientSensitivityValue->fontMetrics().horizontalAdvance(QStringLiteral("100")));
    sensitivityLayout->addWidget(labelTransientSensitivityValue);
    widgetTransientSensitivity->hide();
    horizontalLayout_2->addWidget(widgetTransientSensitivity);
    horizontalLayout_2->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    pushButtonResetQuickControls = new QPushButton(frameQuickControls);
    pushButtonResetQuickControls->setObjectName("pushButtonResetQuickControls");
    pushButtonResetQuickControls->setFlat(false);
    pushButtonResetQuickControls->setDefault(false);
    horizontalLayout_2->addWidget(pushButtonResetQuickControls);
    verticalLayout->addWidget(frameQuickControls);

    frameTransport = new QFrame(frameTrevant);
    frameTransport->setObjectName("frameTransport");
    verticalLayout->addWidget(frameTransport);
    frameTrevantRenderer = new QFrame(frameTrevant);
    frameTrevantRenderer->setObjectName("frameTrevantRenderer");
    verticalLayout->addWidget(frameTrevantRenderer);

    frameDragExport = new QFrame(frameTrevant);
    frameDragExport->setObjectName("frameDragExport");
    frameDragExport->setMinimumSize(0, 30);
    frameDragExport->setMaximumSize(16777215, 30);
    frameDragExport->setAutoFillBackground(true);
    {
        QPalette p;
        for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            p.setBrush(g, QPalette::Window, QColor(32, 32, 32));
        p.setBrush(QPalette::Active, QPalette::Base, Qt::white);
        p.setBrush(QPalette::Inactive, QPalette::Base, Qt::white);
        p.setBrush(QPalette::Disabled, QPalette::Base, QColor(32, 32, 32));
        frameDragExport->setPalette(p);
    }
    frameDragExport->setFrameShape(QFrame::NoFrame);
    horizontalLayout = new QHBoxLayout(frameDragExport);
    horizontalLayout->setObjectName("horizontalLayout");
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    horizontalLayout->addItem(new QSpacerItem(120, 27, QSizePolicy::Fixed, QSizePolicy::Minimum));
    labelDragExport = new QLabel(frameDragExport);
    labelDragExport->setObjectName("labelDragExport");
    labelDragExport->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    labelDragExport->setPalette(dragExportTextPalette());
    labelDragExport->setAlignment(Qt::AlignCenter);
    labelDragExport->setWordWrap(true);
    horizontalLayout->addWidget(labelDragExport);
    horizontalLayoutDragExportOptions = new QHBoxLayout();
    horizontalLayoutDragExportOptions->setObjectName("horizontalLayoutDragExportOptions");
    radioButtonDragExportSingle = new QRadioButton(frameDragExport);
    radioButtonDragExportSingle->setObjectName("radioButtonDragExportSingle");
    radioButtonDragExportSingle->setChecked(true);
    radioButtonDragExportSingle->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    radioButtonDragExportSingle->setPalette(dragExportTextPalette());
    horizontalLayoutDragExportOptions->addWidget(radioButtonDragExportSingle);
    radioButtonDragExportAll = new QRadioButton(frameDragExport);
    radioButtonDragExportAll->setObjectName("radioButtonDragExportAll");
    radioButtonDragExportAll->setPalette(dragExportTextPalette());
    horizontalLayoutDragExportOptions->addWidget(radioButtonDragExportAll);
    horizontalLayout->addLayout(horizontalLayoutDragExportOptions);
    verticalLayout->addWidget(frameDragExport);

    frameZoombar = new QFrame(frameTrevant);
    frameZoombar->setObjectName("frameZoombar");
    verticalLayout->addWidget(frameZoombar);

    verticalLayout_2->addWidget(frameTrevant);
    w->setCentralWidget(centralwidget);

    menubar = new QMenuBar(w);
    menubar->setObjectName("menubar");
    menuFile = new QMenu(menubar);
    menuFile->setObjectName("menuFile");
    menuEdit = new QMenu(menubar);
    menuEdit->setObjectName("menuEdit");
    menuEffects = new QMenu(menuEdit);
    menuEffects->setObjectName("menuEffects");
    menuSlice = new QMenu(menubar);
    menuSlice->setObjectName("menuSlice");
    menuSlice_into = new QMenu(menuSlice);
    menuSlice_into->setObjectName("menuSlice_into");
    menuHelp = new QMenu(menubar);
    menuHelp->setObjectName("menuHelp");
    w->setMenuBar(menubar);
    statusbar = new QStatusBar(w);
    statusbar->setObjectName("statusbar");
    statusbar->setSizeGripEnabled(true);
    w->setStatusBar(statusbar);

    toolBar = new QToolBar(w);
    toolBar->setObjectName("toolBar");
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setAllowedAreas(Qt::NoToolBarArea);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar->setIconSize(QSize(32, 32));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    toolBar->setStyleSheet("QToolBar > QToolButton {\n\tmargin-top: 10px;\n    margin-bottom: 10px;\n}");
    w->addToolBar(Qt::TopToolBarArea, toolBar);

    menubar->addAction(menuFile->menuAction());
    menubar->addAction(menuEdit->menuAction());
    menubar->addAction(menuSlice->menuAction());
    menubar->addAction(menuHelp->menuAction());
    menuFile->addAction(actionOpen);
    menuFile->addSeparator();
    menuFile->addAction(actionSaveAs);
    menuFile->addAction(actionSaveSlices);
    menuFile->addAction(actionSaveSlicesAsMidi);
    menuFile->addSeparator();
    menuFile->addAction(actionOpenSliceTemplate);
    menuFile->addAction(actionSaveSliceTemplateAs);
    menuFile->addSeparator();
    menuFile->addAction(actionQuit);
    menuEdit->addAction(actionEditPlaceholder);
    menuEdit->addAction(menuEffects->menuAction());
    menuEdit->addSeparator();
    menuEdit->addAction(actionCut);
    menuEdit->addAction(actionCopy);
    menuEdit->addAction(actionPaste);
    menuEdit->addAction(actionDelete);
    menuEdit->addAction(actionSelectAll);
    menuEdit->addSeparator();
    menuEdit->addAction(actionHide);
    menuEdit->addAction(actionUnhide_Last);
    menuEdit->addAction(actionUnhide_All);
    menuEdit->addAction(actionRaise);
    menuEdit->addAction(actionLower);
    menuEdit->addSeparator();
    menuEdit->addAction(actionSampleProperties);
    menuEdit->addAction(actionPreferences);
    menuSlice->addAction(actionSnapToZeroCrossings);
    menuSlice->addAction(actionFadeInOutSlices);
    menuSlice->addSeparator();
    menuSlice->addAction(menuSlice_into->menuAction());
    menuSlice->addAction(actionSliceAtTransients);
    menuSlice->addSeparator();
    menuSlice->addAction(actionAdvancedSlicing);
    menuSlice_into->addAction(action4);
    menuSlice_into->addAction(action8);
    menuSlice_into->addAction(action16);
    menuSlice_into->addAction(action32);
    menuSlice_into->addAction(action64);
    menuHelp->addAction(actionUserManual);
    menuHelp->addSeparator();
    menuHelp->addAction(actionAbout);
    for (QAction *a : {actionPlay, actionEditMode, actionSliceAtCursor, actionSlice4, actionSlice8, actionSlice16,
                       actionSliceAtTransients, actionSliceClear, actionTimeStretch, actionDragExport, actionQuickExport})
        toolBar->addAction(a);

    retranslateUi(w);
}

void Ui_QuilloryMainWindow::retranslateUi(QMainWindow *w)
{
    w->setWindowTitle(tr("Quillory"));
    struct Text {
        QAction *action;
        const char *text, *shortcut, *tip;
    };
    const Text texts[] = {
        {actionOpen, "Open...", "Ctrl+O", nullptr},
        {actionSaveAs, "Save As...", nullptr, nullptr},
        {actionSaveSlices, "Save Slices...", "Ctrl+S", nullptr},
        {actionSaveSlicesAsMidi, "Save Slices as MIDI...", nullptr, nullptr},
        {actionOpenSliceTemplate, "Open Template...", nullptr, "Open a custom list of slice points"},
        {actionSaveSliceTemplateAs, "Save Template As...", nullptr, "Save the list of slice points"},
        {actionQuit, "Quit", "Ctrl+Q", nullptr},
        {actionCut, "Cut", "Ctrl+X", nullptr},
        {actionCopy, "Copy", "Ctrl+C", nullptr},
        {actionPaste, "Paste", "Ctrl+V", nullptr},
        {actionDelete, "Delete", nullptr, nullptr},
        {actionSelectAll, "Select All", "Ctrl+A", nullptr},
        {actionHide, "Hide", "Ctrl+Shift+H", nullptr},
        {actionUnhide_Last, "Unhide Last", "Ctrl+J", nullptr},
        {actionUnhide_All, "Unhide All", "Ctrl+U", nullptr},
        {actionRaise, "Raise", "PgUp", nullptr},
        {actionLower, "Lower", "PgDown", nullptr},
        {actionSampleProperties, "Sample Properties...", "Ctrl+P", nullptr},
        {actionPreferences, "&Preferences...", nullptr, nullptr},
        {actionSnapToZeroCrossings, "Snap to Zero Crossings", "Ctrl+E", nullptr},
        {actionFadeInOutSlices, "Fade In/Out Slices", nullptr, nullptr},
        {action4, "4 Slices", nullptr, nullptr},
        {action8, "8 Slices", nullptr, nullptr},
        {action16, "16 Slices", nullptr, nullptr},
        {action32, "32 Slices", nullptr, nullptr},
        {action64, "64 Slices", nullptr, nullptr},
        {actionAdvancedSlicing, "Advanced Slicing...", nullptr, nullptr},
        {actionUserManual, "User Manual", nullptr, nullptr},
        {actionAbout, "About", nullptr, nullptr},
        {actionPlay, "Play", "Space", "Listen to the entire loop"},
        {actionEditMode, "Edit", "E", "Toggle the ability to make edits like fades and trims to the audio file."},
        {actionSliceAtCursor, "Slice", "S",
         "Create a slice point at the current playback position. (Shortcut Key: S)"},
        {actionSlice4, "Slice in 4", nullptr, nullptr},
        {actionSlice8, "Slice in 8", nullptr, "Slice in 8"},
        {actionSlice16, "Slice in 16", nullptr, "Slice in 16"},
        {actionSliceAtTransients, "Slice at Transients", nullptr,
         "Slice at the detected hits. The sensitivity control above the waveform then adds or removes hits."},
        {actionSliceClear, "Clear Slicing", nullptr, "Clear all slice points from the current loop"},
        {actionTimeStretch, "Time Stretch", nullptr, "Speed up or slow down samples without changing the pitch."},
        {actionDragExport, "Drag Export", nullptr,
         "Toggle the ability to drag slices out of the application to export them."},
        {actionQuickExport, "Quick Export", nullptr, "Immediately export all slices from current loop"},
        {actionNewProject, "&New Project", nullptr, nullptr},
        {actionOpenProject, "Open Project...", nullptr, nullptr},
        {actionSaveProject, "Save Project...", nullptr, nullptr},
        {actionEditPlaceholder, "Undo", nullptr, nullptr},
    };
    for (const Text &t : texts) {
        t.action->setText(tr(t.text));
        if (t.shortcut)
            t.action->setShortcut(QKeySequence(tr(t.shortcut)));
        if (t.tip)
            t.action->setToolTip(tr(t.tip));
    }
    label->setText(tr("Tempo:"));
    doubleSpinBoxBpm->setSuffix(tr(" BPM"));
    label_2->setText(tr("Pitch:"));
    spinBoxPitch->setSuffix(tr(" ST"));
    // The tool-bar button is too narrow for the menu's words.
    actionSliceAtTransients->setIconText(tr("Transients"));
    labelTransientSensitivity->setText(tr("Sensitivity:"));
    sliderTransientSensitivity->setToolTip(tr("More hits to the right, fewer to the left"));
    pushButtonResetQuickControls->setText(tr("Reset"));
    labelDragExport->setText(tr("Drag any slice to your desktop, a folder, or your DAW."));
    radioButtonDragExportSingle->setText(tr("Single"));
    radioButtonDragExportAll->setText(tr("All"));
    menuFile->setTitle(tr("File"));
    menuEdit->setTitle(tr("Edit"));
    menuEffects->setTitle(tr("Effects"));
    menuSlice->setTitle(tr("Slice"));
    menuSlice_into->setTitle(tr("Slice Into"));
    menuHelp->setTitle(tr("Help"));
    toolBar->setWindowTitle(tr("Slicing"));
}
