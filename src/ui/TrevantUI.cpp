#include "TrevantUI.h"

#include "AudioFile.h"
#include "EditableAudioCache.h"
#include "OnsetAnalysisService.h"
#include "RealtimeEvents.h"
#include "SampleRendererEditor.h"
#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceExporter.h"
#include "SliceTemplate.h"
#include "TempoAlternativesWidget.h"
#include "TempoDetection.h"
#include "TransportBar.h"
#include "Trevant.h"
#include "UiLogging.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace {
// The Edit menu's actions that act on the edit view, each with the view's slot it runs, in
// the order the view's context menu lists them. A new edit action is one row here.
struct EditActionBinding {
    QAction *Ui_QuilloryMainWindow::*action;
    void (*run)(SampleRendererEditor *view);
};
const EditActionBinding kEditActionBindings[] = {
    {&Ui_QuilloryMainWindow::actionCut, [](SampleRendererEditor *v) { v->slotCut(); }},
    {&Ui_QuilloryMainWindow::actionCopy, [](SampleRendererEditor *v) { v->slotCopy(); }},
    {&Ui_QuilloryMainWindow::actionPaste, [](SampleRendererEditor *v) { v->slotPaste(); }},
    {&Ui_QuilloryMainWindow::actionDelete, [](SampleRendererEditor *v) { v->slotDelete(); }},
    {&Ui_QuilloryMainWindow::actionSelectAll, [](SampleRendererEditor *v) { v->selectAll(); }},
    {&Ui_QuilloryMainWindow::actionHide, [](SampleRendererEditor *v) { v->hideSelectedEdits(); }},
    {&Ui_QuilloryMainWindow::actionUnhide_Last, [](SampleRendererEditor *v) { v->unhideLast(); }},
    {&Ui_QuilloryMainWindow::actionUnhide_All, [](SampleRendererEditor *v) { v->unhideAll(); }},
    {&Ui_QuilloryMainWindow::actionRaise, [](SampleRendererEditor *v) { v->raiseSelectedEdits(); }},
    {&Ui_QuilloryMainWindow::actionLower, [](SampleRendererEditor *v) { v->lowerSelectedEdits(); }},
};
} // namespace

TrevantUI::TrevantUI() {
    setUpForm();
    setUpEngine();
    setUpToolBar();
    setUpFileActions();
    setUpEditMenu();
    setUpViews();
    connectEditView();
    setUpToolBarActions();
    setUpQuickControls();
    setUpStatusBar();
    restoreInitialState();
    fitIntoScreen();
    show();
    setFocus(Qt::OtherFocusReason);
    openCommandLinePath();
    startDeviceMonitoring();
    showSettingsProblem();
}

// Preferences that silently went back to their defaults would look like a fault of the
// program; the musician is told once, without blocking the start.
void TrevantUI::showSettingsProblem() {
    const QString problem = Settings::instance().loadProblem();
    if (problem.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Preferences reset"), problem, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBoxSettingsProblem"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// The form, the title and the application font.
void TrevantUI::setUpForm() {
    ui.setupUi(this);
    setWindowTitle(QCoreApplication::applicationName());
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF());
    QApplication::setFont(font);
}

// The engine, the slicer and the analysis services, and their reports to the window.
void TrevantUI::setUpEngine() {
    m_engine = new SliceEngine();
    m_slicer = m_engine->slicer();
    connect(m_slicer, SIGNAL(sliceLoaded(Slice *)), this, SLOT(slotSetupSliceConnections(Slice *)));
    if (TempoDetection *detector = m_slicer->bpmDetector()) {
        connect(detector, SIGNAL(calculatingBpmProgress(float)), this,
                SLOT(slotShowBpmDetectionProgress(float)));
        connect(detector, SIGNAL(bpmDetected()), this, SLOT(updateQuickControlsOriginalBpmFromSlice()));
        connect(detector, &TempoDetection::bpmDetected, this, &TrevantUI::slotUpdateBpmDetected);
    }
    connect(m_engine, SIGNAL(audioDeviceError(QString, QString)), this,
            SLOT(slotShowAudioDeviceError(QString, QString)));
    m_onsets = new OnsetAnalysisService(this);
    connect(m_onsets, &OnsetAnalysisService::analysisProgress, this, &TrevantUI::slotTransientAnalysisProgress);
    connect(m_onsets, &OnsetAnalysisService::analysisReady, this, &TrevantUI::slotTransientAnalysisReady);
    connect(m_slicer, &Trevant::slicePointsChanged, this, &TrevantUI::slotSlicePointsChanged);
    connect(m_engine, &SliceEngine::hostApiFallback, this, [this](const QString &notice) {
        statusBar()->showMessage(notice, 10000);
    });
}

// Drops, the standard icons, the margins and the tool buttons.
void TrevantUI::setUpToolBar() {
    setAcceptDrops(true);
    ui.actionOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    ui.actionSaveAs->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui.actionQuit->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    ui.horizontalLayout_2->setContentsMargins(12, 9, ui.horizontalLayout_2->contentsMargins().right(), 9);
    for (QAction *a : ui.toolBar->actions())
        if (QWidget *button = ui.toolBar->widgetForAction(a))
            button->setFixedSize(88, 76);
}

// Reset focus, quit, the file and project actions.
void TrevantUI::setUpFileActions() {
    m_resetFocusAction = new QAction(tr("Reset focus"), this);
    m_resetFocusAction->setShortcut(Qt::Key_Escape);
    m_resetFocusAction->setShortcutContext(Qt::ApplicationShortcut);
    addAction(m_resetFocusAction);
    connect(m_resetFocusAction, SIGNAL(triggered()), this, SLOT(setFocus()));
    // destroyed() is deliberately not connected to slotQuit: by then the window is
    // half destroyed, and quitting is already under way.
    connect(ui.actionQuit, SIGNAL(triggered()), this, SLOT(slotQuit()));
    connect(ui.actionOpen, SIGNAL(triggered()), this, SLOT(slotLoadAudioFile()));
    connect(ui.actionSaveAs, SIGNAL(triggered()), this, SLOT(slotSaveAs()));
    connect(ui.actionSaveSlices, SIGNAL(triggered()), this, SLOT(slotExportSlicesToDisk()));
    connect(ui.actionSaveSlicesAsMidi, SIGNAL(triggered()), this, SLOT(slotSaveSlicesAsMidi()));
    m_exportKitAction = new QAction(tr("Export Kit..."), this);
    m_exportKitAction->setObjectName("actionExportKit");
    m_exportKitAction->setStatusTip(
        tr("Write the slices as an SFZ, Hydrogen or DecentSampler kit with a MIDI file"));
    m_exportKitAction->setEnabled(false);
    const QList<QAction *> fileActions = ui.menuFile->actions();
    ui.menuFile->insertAction(fileActions.value(fileActions.indexOf(ui.actionSaveSlicesAsMidi) + 1),
                              m_exportKitAction);
    connect(m_exportKitAction, &QAction::triggered, this, &TrevantUI::slotExportKit);
    addSliceMarkersOption();
    connect(ui.actionNewProject, SIGNAL(triggered()), this, SLOT(slotNewProject()));
    connect(ui.actionOpenProject, SIGNAL(triggered()), this, SLOT(slotOpenProject()));
    connect(ui.actionSaveProject, SIGNAL(triggered()), this, SLOT(slotSaveProject()));
    addAction(ui.actionNewProject);
    addAction(ui.actionOpenProject);
    addAction(ui.actionSaveProject);
}

// The undo stack and the Edit menu around it, the settings, slicing and help actions.
void TrevantUI::setUpEditMenu() {
    m_undoStack = new QUndoStack(this);
    QAction *undo = m_undoStack->createUndoAction(this, QString());
    undo->setShortcuts(QKeySequence::Undo);
    QAction *redo = m_undoStack->createRedoAction(this, QString());
    redo->setShortcuts(QKeySequence::Redo);
    ui.menuEdit->insertAction(ui.actionEditPlaceholder, undo);
    ui.menuEdit->insertAction(ui.actionEditPlaceholder, redo);
    ui.menuEdit->insertSeparator(ui.actionEditPlaceholder);
    ui.menuEdit->removeAction(ui.actionEditPlaceholder);
    ui.menuEdit->insertSeparator(ui.actionPreferences);
    connect(ui.actionPreferences, SIGNAL(triggered()), this, SLOT(slotShowPreferences()));
    connect(ui.actionAdvancedSlicing, SIGNAL(triggered()), this, SLOT(slotShowAdvancedSlicing()));
    connect(ui.actionSnapToZeroCrossings, SIGNAL(toggled(bool)), this,
            SLOT(slotToggleSnapToZeroCrossings(bool)));
    connect(ui.actionFadeInOutSlices, SIGNAL(toggled(bool)), this, SLOT(slotToggleFadeInOutSlices(bool)));
    connect(ui.action4, SIGNAL(triggered()), this, SLOT(slotSliceIn4()));
    connect(ui.action8, SIGNAL(triggered()), this, SLOT(slotSliceIn8()));
    connect(ui.action16, SIGNAL(triggered()), this, SLOT(slotSliceIn16()));
    connect(ui.action32, SIGNAL(triggered()), this, SLOT(slotSliceIn32()));
    connect(ui.action64, SIGNAL(triggered()), this, SLOT(slotSliceIn64()));
    connect(ui.actionAbout, SIGNAL(triggered()), this, SLOT(slotAbout()));
    connect(ui.actionUserManual, SIGNAL(triggered()), this, SLOT(slotUserManual()));
}

// The slicing and edit views, the zoom bar and the transport bar in place of the form's
// placeholders; the window starts in slicing mode.
void TrevantUI::setUpViews() {
    m_slicingView = new SampleRendererTrevant(this, m_slicer, m_undoStack);
    m_editView = new SampleRendererEditor(this, m_slicer, m_undoStack, editActions());
    connectEditActions();
    for (QAction *a : m_editView->effectActions())
        ui.menuEffects->addAction(a);
    m_viewStack.addWidget(m_slicingView);
    m_viewStack.addWidget(m_editView);

    m_zoomBar = new SampleRendererZoombar(this, m_slicer->currentSlice());
    m_transportBar = new TransportBar(this, m_slicer, m_slicingView, m_undoStack);

    // Replace the placeholders.
    for (QFrame *placeholder : {ui.frameTransport, ui.frameTrevantRenderer, ui.frameZoombar}) {
        ui.verticalLayout->removeWidget(placeholder);
        placeholder->close();
    }
    ui.verticalLayout->removeWidget(ui.frameDragExport);
    ui.frameDragExport->hide();
    ui.verticalLayout->addWidget(m_transportBar);
    ui.verticalLayout->addWidget(&m_viewStack, 1);
    ui.verticalLayout->addWidget(m_zoomBar);

    connect(m_slicingView, SIGNAL(statusTip(QString, int)), this,
            SLOT(slotShowStatusTipMessage(QString, int)));
    connect(m_slicingView, SIGNAL(exportSuccessful(QString, QString)), this,
            SIGNAL(exportSuccessful(QString, QString)));
    enterSlicingMode();
}

// What the edit view tells the window: messages and which Edit actions apply.
void TrevantUI::connectEditView() {
    connect(m_editView, &SampleRendererEditor::editMessage, this, &TrevantUI::slotShowEditMessage);
    connect(m_editView, &SampleRendererEditor::selectionCopied, this, &TrevantUI::enablePasteActions);
    connect(m_editView, &SampleRendererEditor::editCopied, this, &TrevantUI::enablePasteActions);
    connect(m_editView, &SampleRendererEditor::cutPasted, this, &TrevantUI::disablePasteActions);
    connect(m_editView, &SampleRendererEditor::freeformSelectionCreated, this, &TrevantUI::enableSelectionActions);
    connect(m_editView, &SampleRendererEditor::itemSelected, this, &TrevantUI::enableSelectionActions);
    connect(m_editView, &SampleRendererEditor::freeformSelectionCleared, this, &TrevantUI::disableSelectionActions);
    connect(m_editView, &SampleRendererEditor::itemSelectionCleared, this, &TrevantUI::disableSelectionActions);
    connect(m_editView, &SampleRendererEditor::itemSelected, this, &TrevantUI::enableHideActions);
    connect(m_editView, &SampleRendererEditor::itemSelectionCleared, this, &TrevantUI::disableHideActions);
}

// The tool bar's actions and the transient sensitivity control.
void TrevantUI::setUpToolBarActions() {
    connect(ui.actionPlay, SIGNAL(toggled(bool)), this, SLOT(slotTogglePlayback(bool)));
    connect(ui.actionSlice4, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate4()));
    connect(ui.actionSlice8, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate8()));
    connect(ui.actionSlice16, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate16()));
    connect(ui.actionSliceAtCursor, SIGNAL(triggered()), this, SLOT(slotSliceAtCursor()));
    connect(ui.actionSliceClear, SIGNAL(triggered()), this, SLOT(slotClearSlicing()));
    connect(ui.actionSliceAtTransients, &QAction::triggered, this, &TrevantUI::slotSliceAtTransients);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &TrevantUI::slotUndoIndexChanged);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &TrevantUI::updateUnhideActions);
    QSlider *sensitivity = ui.sliderTransientSensitivity;
    sensitivity->setValue(qRound(OnsetDetector::defaultSensitivity));
    ui.labelTransientSensitivityValue->setNum(sensitivity->value());
    connect(sensitivity, &QSlider::sliderPressed, this, &TrevantUI::slotTransientSensitivityPressed);
    connect(sensitivity, &QSlider::valueChanged, this, &TrevantUI::slotTransientSensitivityChanged);
    connect(sensitivity, &QSlider::sliderReleased, this, &TrevantUI::slotTransientSensitivityReleased);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now == ui.sliderTransientSensitivity)
            ++m_sensitivitySession;
    });
    connect(ui.actionOpenSliceTemplate, SIGNAL(triggered()), this, SLOT(slotLoadSliceTemplate()));
    connect(ui.actionSaveSliceTemplateAs, SIGNAL(triggered()), this, SLOT(slotSaveSliceTemplate()));
    connect(ui.actionTimeStretch, SIGNAL(triggered()), this, SLOT(slotShowTimeStretchWindow()));
    connect(ui.actionSampleProperties, SIGNAL(triggered()), this, SLOT(slotShowSamplePropertiesWindow()));
    connect(ui.actionQuickExport, SIGNAL(triggered()), this, SLOT(slotExportSlicesQuick()));
    connect(ui.actionDragExport, SIGNAL(toggled(bool)), this, SLOT(slotToggleDragExport(bool)));
    connect(ui.actionEditMode, SIGNAL(toggled(bool)), this, SLOT(slotToggleEditMode(bool)));
}

// Drag-export options, quick controls, tempo alternatives and tap tempo.
void TrevantUI::setUpQuickControls() {
    m_dragExportGroup = new QButtonGroup(this);
    m_dragExportGroup->addButton(ui.radioButtonDragExportSingle, 0);
    m_dragExportGroup->addButton(ui.radioButtonDragExportAll, 1);
    connect(m_dragExportGroup, SIGNAL(buttonClicked(int)), this, SLOT(slotSetDragExportDragMode(int)));
    connect(ui.doubleSpinBoxBpm, SIGNAL(valueChanged(double)), this, SLOT(setTrevantBPM(double)));
    connect(ui.spinBoxPitch, SIGNAL(valueChanged(int)), this, SLOT(setTrevantPitchAdjust(int)));
    connect(ui.pushButtonResetQuickControls, SIGNAL(clicked()), this, SLOT(resetQuickControls()));
    // Tempo alternatives and tap tempo beside the Tempo box; T taps in the waveform too.
    {
        auto *tempoAlternatives = new TempoAlternativesWidget(this, m_slicer, m_undoStack);
        ui.horizontalLayout_2->insertWidget(ui.horizontalLayout_2->indexOf(ui.stackedWidgetBpm) + 1,
                                            tempoAlternatives);
        tempoAlternatives->tapOnKeyIn(m_slicingView);
        // Made after the views, it would come after them in the Tab order; it sits between
        // the Tempo and Pitch boxes.
        if (auto *choices = tempoAlternatives->findChild<QToolButton *>("toolButtonTempoAlternatives")) {
            QWidget::setTabOrder(ui.doubleSpinBoxBpm, choices);
            QWidget::setTabOrder(choices, ui.spinBoxPitch);
        }
    }
}

// What the status bar shows of exports: the saved message, Cancel while one runs, and a
// link to where the last one went.
void TrevantUI::setUpStatusBar() {
    connect(this, SIGNAL(exportSuccessful(QString, QString)), this,
            SLOT(slotStatusBarSavedMessage(QString, QString)));
    m_cancelExportButton = new QPushButton(tr("Cancel Export"), this);
    m_cancelExportButton->setObjectName("pushButtonCancelExport");
    m_cancelExportButton->hide();
    statusBar()->addPermanentWidget(m_cancelExportButton);
    m_exportOutcomeLabel = new QLabel(this);
    m_exportOutcomeLabel->setObjectName("labelExportOutcome");
    m_exportOutcomeLabel->setTextFormat(Qt::RichText);
    m_exportOutcomeLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_exportOutcomeLabel->hide();
    statusBar()->addWidget(m_exportOutcomeLabel, 1);
    connect(m_exportOutcomeLabel, &QLabel::linkActivated, this,
            [](const QString &link) { QDesktopServices::openUrl(QUrl(link)); });
    m_slicingView->setExportTracker([this](SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd) {
        return trackExport(exporter, std::move(onEnd));
    });
    connect(m_cancelExportButton, &QPushButton::clicked, this, [this] {
        if (m_exporter)
            m_exporter->cancel();
    });
}

// Nothing loaded yet: the loop actions are off; the snapping and fading flags come
// from the settings.
void TrevantUI::restoreInitialState() {
    setLoopActionsEnabled(false);
    ui.actionSliceAtCursor->setEnabled(false);

    // Snapping and fading flags; anything but an integer counts as on.
    for (auto pair : {qMakePair(QString("snap_to_zero_crossings"), ui.actionSnapToZeroCrossings),
                      qMakePair(QString("fade_in_out_slices"), ui.actionFadeInOutSlices)}) {
        bool ok = false;
        int value = Settings::instance().value(pair.first).toInt(&ok, 10);
        if (!ok) {
            value = 1;
            Settings::instance().set(pair.first, "1");
        }
        pair.second->setChecked(value != 0);
    }
}

// A small screen at a high scale factor holds less than the initial size: the window opens
// inside it, so the quick controls' far end is not off the screen (never below the minimum).
void TrevantUI::fitIntoScreen() {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    resize(size().boundedTo(screen->availableGeometry().size()).expandedTo(minimumSizeHint()));
}

// A file named on the command line opens as if the desktop had handed it over.
void TrevantUI::openCommandLinePath() {
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        openPath(args.last());
}

// A device that disappears (unplugged, sound server gone) is noticed and re-opened;
// the engine only reports changes, so a steady problem is not shown again and again.
void TrevantUI::startDeviceMonitoring() {
    auto *healthTimer = new QTimer(this);
    healthTimer->setObjectName("timerAudioDeviceHealth");
    connect(healthTimer, SIGNAL(timeout()), this, SLOT(slotCheckAudioDeviceHealth()));
    healthTimer->start(5000);

    // The engine chose its host API before the window connected to its reports.
    if (!m_engine->hostApiFallbackNotice().isEmpty())
        statusBar()->showMessage(m_engine->hostApiFallbackNotice(), 10000);
    if (m_engine->hasAudioDeviceError())
        QTimer::singleShot(0, this, [this] {
            slotShowAudioDeviceError(m_engine->audioDeviceError(), m_engine->audioDeviceErrorSuggestion());
        });
}

TrevantUI::~TrevantUI() {
    // A running export stops before the loop it reads goes away.
    delete m_exporter.data();
    delete m_onsets;
    m_onsets = nullptr;
    // The undo stack and the focus tracking outlive this body: their last signals must
    // not reach a window whose widgets are going.
    disconnect(m_undoStack, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
    // Views hold the loop and talk to the slicer: they go before the engine that owns it.
    delete m_slicingView;
    m_slicingView = nullptr;
    delete m_transportBar;
    m_transportBar = nullptr;
    delete m_editView;
    m_editView = nullptr;
    delete m_zoomBar;
    m_zoomBar = nullptr;
    delete m_engine;
    m_engine = nullptr;
}

// --- Audio device -------------------------------------------------------------------

void TrevantUI::slotCheckAudioDeviceHealth() {
    // The sound-card thread only counts what it would have logged; the lines come from here.
    RealtimeEvents::report();
    // A live stream is cheap to check and is checked on every tick. Without any device a
    // retry restarts the sound system on this thread, which can stall the window for a
    // moment, so failed retries thin out (10 s, 15 s, 25 s ... then once a minute) until
    // a device answers again.
    constexpr int kMaxBackoffTicks = 11;
    const bool noDevice = !m_engine->hasOutput();
    if (noDevice && m_deviceRetrySkipsLeft > 0) {
        --m_deviceRetrySkipsLeft;
        return;
    }
    if (m_engine->checkAudioDeviceHealth())
        ++m_deviceRetries;
    if (!m_engine->hasOutput()) {
        m_deviceRetryBackoff = qBound(1, m_deviceRetryBackoff * 2, kMaxBackoffTicks);
        m_deviceRetrySkipsLeft = m_deviceRetryBackoff;
    } else {
        m_deviceRetryBackoff = 0;
        m_deviceRetrySkipsLeft = 0;
    }
}

// --- Quitting -----------------------------------------------------------------------

void TrevantUI::slotQuit() {
    if (m_quitting)
        return;
    if (!settleRenderedLoop([this] { slotQuit(); }))
        return;
    m_quitting = true;
    emit closed();
    // An orderly end of the event loop: the application deletes this window afterwards,
    // and the engine's destructor saves the settings.
    QCoreApplication::exit(0);
}

void TrevantUI::closeEvent(QCloseEvent *event) {
    slotQuit();
    event->ignore();
}

// --- Modes --------------------------------------------------------------------------

void TrevantUI::slotToggleEditMode(bool on) {
    if (m_slicingView->isDragExportOn())
        ui.actionDragExport->setChecked(false);
    m_slicer->setEditMode(on);
    if (on) {
        m_editView->setSlice(m_slicer->currentSlice());
        m_editView->prepareForEditing();
        followEditsInZoomBar();
        enterEditMode();
        m_editView->setWaveformDirtyAndRepaint();
        m_viewStack.setCurrentIndex(1);
    } else {
        m_slicingView->setWaveformDirtyAndRepaint();
        enterSlicingMode();
        m_viewStack.setCurrentIndex(0);
    }
}

void TrevantUI::followEditsInZoomBar() {
    // The zoom bar shows the whole loop: it redraws as re-rendered edits come in.
    if (QSharedPointer<EditableAudioCache> cache = m_editView->editableCache())
        connect(cache.data(), SIGNAL(cacheUpdateProgress()), m_zoomBar, SLOT(setWaveformDirtyAndRepaint()),
                Qt::UniqueConnection);
    // A detection kept from before a change of the edits no longer fits what plays. It goes
    // the moment the edit is made (or undone): Slice at Transients clicked right after
    // would otherwise cut at the old hits while the worker re-renders. Every change also
    // ends in a reset of the rendered audio, which drops it again.
    if (QSharedPointer<EditableAudioCache> cache = m_editView->editableCache()) {
        connect(cache.data(), &EditableAudioCache::editedAudioChanged, m_onsets,
                &OnsetAnalysisService::invalidate, Qt::UniqueConnection);
        connect(cache.data(), &EditableAudioCache::cacheUpdateProgress, m_onsets, &OnsetAnalysisService::invalidate,
                Qt::UniqueConnection);
    }
}

void TrevantUI::unlinkViews() {
    // Each mode links its own view to the zoom bar and the transport bar; switching
    // modes drops every such link first, whichever mode set it up.
    for (SampleRenderer *view :
         {static_cast<SampleRenderer *>(m_slicingView), static_cast<SampleRenderer *>(m_editView)}) {
        disconnect(view, SIGNAL(viewChanged(long, long)), m_zoomBar, SLOT(setBarPosition(long, long)));
        disconnect(m_zoomBar, SIGNAL(barChanged(long, long)), view, SLOT(setViewPosition(long, long)));
        disconnect(view, SIGNAL(viewChanged(long, long)), m_transportBar, SLOT(update()));
    }
    disconnect(m_zoomBar, SIGNAL(barChanged(long, long)), m_transportBar, SLOT(update()));
}

void TrevantUI::enterSlicingMode() {
    for (QAction *a : {ui.actionCut, ui.actionCopy, ui.actionDelete, ui.actionHide, ui.actionRaise,
                       ui.actionLower, ui.actionPaste})
        a->setEnabled(false);
    unlinkViews();
    connect(m_slicingView, SIGNAL(viewChanged(long, long)), m_zoomBar, SLOT(setBarPosition(long, long)));
    connect(m_zoomBar, SIGNAL(barChanged(long, long)), m_slicingView, SLOT(setViewPosition(long, long)));
    connect(m_slicingView, SIGNAL(viewChanged(long, long)), m_transportBar, SLOT(update()));
    connect(m_zoomBar, SIGNAL(barChanged(long, long)), m_transportBar, SLOT(update()));
    m_transportBar->setView(m_slicingView);
    m_slicingView->setViewStart(m_editView->viewStart(), true);
    m_slicingView->setViewEnd(m_editView->viewEnd(), true);
    for (QAction *a : editActions())
        a->setEnabled(false);
    ui.actionDragExport->setEnabled(true);
    ui.actionSlice4->setEnabled(true);
    ui.actionSlice8->setEnabled(true);
    ui.actionSlice16->setEnabled(true);
}

void TrevantUI::enterEditMode() {
    if (!m_editView->selectedItems().isEmpty())
        for (QAction *a :
             {ui.actionCut, ui.actionCopy, ui.actionDelete, ui.actionHide, ui.actionRaise, ui.actionLower})
            a->setEnabled(true);
    if (m_editView->selectionStart() != 0 || m_editView->selectionEnd() != 0)
        for (QAction *a : {ui.actionCut, ui.actionCopy, ui.actionDelete})
            a->setEnabled(true);
    unlinkViews();
    connect(m_editView, SIGNAL(viewChanged(long, long)), m_zoomBar, SLOT(setBarPosition(long, long)));
    connect(m_zoomBar, SIGNAL(barChanged(long, long)), m_editView, SLOT(setViewPosition(long, long)));
    connect(m_editView, SIGNAL(viewChanged(long, long)), m_transportBar, SLOT(update()));
    m_transportBar->setView(m_editView);
    m_editView->setViewStart(m_slicingView->viewStart(), false);
    m_editView->setViewEnd(m_slicingView->viewEnd(), true);
    ui.actionSelectAll->setEnabled(true);
    updateUnhideActions();
    ui.actionDragExport->setEnabled(false);
    ui.actionSlice4->setEnabled(false);
    ui.actionSlice8->setEnabled(false);
    ui.actionSlice16->setEnabled(false);
}

void TrevantUI::updateUnhideActions() {
    const bool editing = ui.actionEditMode->isChecked();
    ui.actionUnhide_Last->setEnabled(editing && m_editView->canUnhideLast());
    ui.actionUnhide_All->setEnabled(editing && m_editView->hasHiddenItems());
}

void TrevantUI::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    const QSize least = minimumSize();
    const QSize given = event->size();
    if (given.width() >= least.width() && given.height() >= least.height()) {
        m_undersize = QSize();
        return;
    }
    // A window manager holds the window to its minimum size; without one, or with one that
    // ignores it, the quick controls and views would overlap or vanish, so the window asks
    // for its minimum again. Once per size: a manager that insists is not fought.
    if (given == m_undersize)
        return;
    m_undersize = given;
    QTimer::singleShot(0, this, [this] {
        if (width() < minimumWidth() || height() < minimumHeight())
            resize(size().expandedTo(minimumSize()));
    });
}

QList<QAction *> TrevantUI::editActions() const {
    QList<QAction *> actions;
    for (const EditActionBinding &binding : kEditActionBindings)
        actions.append(ui.*binding.action);
    return actions;
}

void TrevantUI::connectEditActions() {
    // Connected once. In slicing mode the edit view is hidden and its actions do nothing,
    // even where an undo there has enabled one of them.
    for (const EditActionBinding &binding : kEditActionBindings) {
        const auto run = binding.run;
        connect(ui.*binding.action, &QAction::triggered, m_editView, [this, run] {
            if (m_viewStack.currentWidget() == m_editView)
                run(m_editView);
        });
    }
}

// --- Drag export, drops -------------------------------------------------------------

void TrevantUI::slotToggleDragExport(bool enable) {
    setAcceptDrops(!enable);
    m_slicingView->slotToggleDragExport(enable);
    m_transportBar->setDragExport(enable);
    if (enable) {
        ui.verticalLayout->insertWidget(3, ui.frameDragExport);
        ui.frameDragExport->show();
    } else {
        ui.verticalLayout->removeWidget(ui.frameDragExport);
        ui.frameDragExport->hide();
    }
}

void TrevantUI::slotSetDragExportDragMode(int mode) {
    m_slicingView->slotSetDragExportMode(mode);
}

namespace {
QStringList localPaths(const QList<QUrl> &urls) {
    QStringList paths;
    for (const QUrl &url : urls)
        if (!url.toLocalFile().isEmpty())
            paths << url.toLocalFile();
    return paths;
}

bool isProjectPath(const QString &path) {
    return QFileInfo(path).suffix().compare(QLatin1String("qlx"), Qt::CaseInsensitive) == 0;
}

// A template or a project rather than audio.
bool isSlicingFile(const QString &path) {
    return SliceTemplate::isTemplatePath(path) || isProjectPath(path);
}

// Whether the window opens this file: an existing, readable audio file, template or project.
bool isOpenable(const QString &path) {
    return AudioFile::pathProblem(path).isEmpty() &&
           (isSlicingFile(path) ||
            AudioFile::openableSuffixes().contains(QFileInfo(path).suffix().toLower()));
}
} // namespace

void TrevantUI::dragEnterEvent(QDragEnterEvent *event) {
    qCDebug(lcUi) << "Drag enter event" << event->mimeData()->hasUrls();
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() == 1 || !localPaths(urls).isEmpty())
        event->acceptProposedAction();
}

void TrevantUI::dropEvent(QDropEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    const QStringList paths = localPaths(urls);
    if (paths.isEmpty())
        return;
    // A selection dragged from the file manager: the window holds one loop, so it opens the
    // first file it can and says why the others stay closed. Folders and other files are
    // passed over; when none qualifies, the first is tried, and its failure says why.
    QString path = paths.first();
    if (urls.size() > 1) {
        const auto openable = std::find_if(paths.cbegin(), paths.cend(), isOpenable);
        if (openable != paths.cend())
            path = *openable;
    }
    event->acceptProposedAction();
    qCDebug(lcUi) << "Drop event" << path;
    const QString notice = urls.size() > 1 ? tr("%1 files were dropped; one file is opened at a time: %2.")
                                                 .arg(urls.size())
                                                 .arg(QFileInfo(path).fileName())
                                           : QString();
    // Loading runs after the drop has finished, so a failure's message box does not
    // sit inside the drag-and-drop machinery.
    QTimer::singleShot(0, this, [this, path, notice] {
        openPath(path);
        // Said once the file is open; a failure has said why already. What the file's own
        // load had to say comes first.
        if (!isSlicingFile(path) && windowFilePath() != path)
            return;
        if (!notice.isEmpty() && (m_loadNotice.isEmpty() || statusBar()->currentMessage() != m_loadNotice))
            statusBar()->showMessage(notice, 10000);
    });
}

void TrevantUI::openPath(const QString &path) {
    // The desktop hands projects and templates to the program as it hands it audio
    // (menu entry, file manager, drops), so each goes where its own Open command goes.
    if (SliceTemplate::isTemplatePath(path))
        loadSliceTemplate(path);
    else if (isProjectPath(path))
        openProject(path);
    else if (settleRenderedLoop([this, path] { openPath(path); }))
        slotLoadAudioFile(path);
}

void TrevantUI::slotShowEditMessage(QString whatWasDone) {
    statusBar()->showMessage(whatWasDone, 2000);
}
void TrevantUI::slotShowStatusTipMessage(QString message, int msec) {
    statusBar()->showMessage(message, msec);
}
void TrevantUI::enablePasteActions() {
    ui.actionPaste->setEnabled(true);
}
void TrevantUI::disablePasteActions() {
    ui.actionPaste->setEnabled(false);
}

void TrevantUI::enableSelectionActions() {
    for (QAction *a : {ui.actionCut, ui.actionCopy, ui.actionDelete})
        a->setEnabled(true);
}

void TrevantUI::disableSelectionActions() {
    for (QAction *a : {ui.actionCut, ui.actionCopy, ui.actionDelete})
        a->setEnabled(false);
}

void TrevantUI::enableHideActions() {
    for (QAction *a : {ui.actionHide, ui.actionRaise, ui.actionLower})
        a->setEnabled(true);
}

void TrevantUI::disableHideActions() {
    for (QAction *a : {ui.actionHide, ui.actionRaise, ui.actionLower})
        a->setEnabled(false);
}

void TrevantUI::slotShowAudioDeviceError(QString error, QString suggestion) {
    if (error.isEmpty()) {
        m_deviceErrorShown = false;
        return;
    }
    if (m_deviceErrorShown)
        return;
    m_deviceErrorShown = true;
    statusBar()->showMessage(error);
    // Not modal-blocking: the program keeps working without sound.
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Audio Device"), error, QMessageBox::Close, this);
    box->setObjectName("messageBoxAudioDeviceError");
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The suggestion may carry a link to the preferences; the button below is that way here.
    box->setInformativeText(QTextDocumentFragment::fromHtml(suggestion).toPlainText());
    QPushButton *prefs = box->addButton(tr("Preferences..."), QMessageBox::ActionRole);
    connect(prefs, &QPushButton::clicked, this, &TrevantUI::slotShowPreferences);
    box->setWindowModality(Qt::NonModal);
    box->installEventFilter(this);
    box->show();
}
