#include "TrevantUI.h"

#include "AboutUI.h"
#include "AddSlicePointCommand.h"
#include "AdvancedSlicingUI.h"
#include "AutoSliceCommand.h"
#include "ClearSlicingCommand.h"
#include "CueMarkers.h"
#include "EditableAudioCache.h"
#include "ExportKitUI.h"
#include "KitExporter.h"
#include "MidiSliceWriter.h"
#include "OnsetAnalysisService.h"
#include "PreferencesUI.h"
#include "ProjectFile.h"
#include "RestoreCueMarkersCommand.h"
#include "SamplePropertiesUI.h"
#include "SampleRendererEditor.h"
#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "Settings.h"
#include "RealtimeEvents.h"
#include "Slice.h"
#include "SliceAtTransientsCommand.h"
#include "SliceEngine.h"
#include "SliceExporter.h"
#include "SliceTemplate.h"
#include "TempoAlternativesWidget.h"
#include "TempoDetection.h"
#include "TimeStretchUI.h"
#include "TransientSensitivityCommand.h"
#include "TransportBar.h"
#include "Trevant.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolButton>
#include <QUndoStack>
#include <QUrl>
#include <functional>

namespace {
// Where a file dialog starts: the remembered folder while it exists, else the user's
// music folder, else home.
QString startFolder(const QString &remembered)
{
    if (!remembered.isEmpty() && QFileInfo(remembered).isDir())
        return remembered;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

// A save dialog whose overwrite question names the file that is really written: the
// dialog adds the suffix to a bare name, and the question is asked here about the name
// the saver's own rule (finalName) makes of the answer, so that "song" never silently
// replaces "song.qlx", whichever dialog the platform shows.
QString askSavePath(QWidget *parent, const QString &title, const QString &start, const QString &filter,
                    const QString &suffix, const std::function<QString(const QString &)> &finalName)
{
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const QString path = dialog.selectedFiles().constFirst();
    const QString target = finalName(path);
    if (QFileInfo::exists(target) &&
        QMessageBox::question(parent, title,
                              QObject::tr("%1 already exists.\nDo you want to replace it?")
                                  .arg(QDir::toNativeSeparators(target)),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return QString();
    return path;
}
} // namespace

TrevantUI::TrevantUI() {
    // 1. Form, title, font.
    ui.setupUi(this);
    setWindowTitle(QCoreApplication::applicationName());
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF());
    QApplication::setFont(font);

    // 2. Engine and slicer.
    m_engine = new SliceEngine();
    m_slicer = m_engine->slicer();
    connect(m_slicer, SIGNAL(sliceLoaded(Slice *)), this, SLOT(slotSetupSliceConnections(Slice *)));
    if (TempoDetection *detector = m_slicer->bpmDetector()) {
        connect(detector, SIGNAL(calculatingBpmProgress(float)), this,
                SLOT(slotShowBpmDetectionProgress(float)));
        connect(detector, SIGNAL(bpmDetected()), this, SLOT(updateQuickControlsOriginalBpmFromSlice()));
    }
    connect(m_engine, SIGNAL(audioDeviceError(QString, QString)), this,
            SLOT(slotShowAudioDeviceError(QString, QString)));
    m_onsets = new OnsetAnalysisService(this);
    connect(m_onsets, &OnsetAnalysisService::analysisProgress, this, &TrevantUI::slotTransientAnalysisProgress);
    connect(m_onsets, &OnsetAnalysisService::analysisReady, this, &TrevantUI::slotTransientAnalysisReady);
    connect(m_engine, &SliceEngine::hostApiFallback, this, [this](const QString &notice) {
        statusBar()->showMessage(notice, 10000);
    });

    // 3. Drops, icons, margins, tool buttons.
    setAcceptDrops(true);
    ui.actionOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    ui.actionSaveAs->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui.actionQuit->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    ui.horizontalLayout_2->setContentsMargins(12, 9, ui.horizontalLayout_2->contentsMargins().right(), 9);
    for (QAction *a : ui.toolBar->actions())
        if (QWidget *button = ui.toolBar->widgetForAction(a))
            button->setFixedSize(88, 76);

    // 4. Reset focus, quit, file and project actions.
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
    connect(ui.actionNewProject, SIGNAL(triggered()), this, SLOT(slotNewProject()));
    connect(ui.actionOpenProject, SIGNAL(triggered()), this, SLOT(slotOpenProject()));
    connect(ui.actionSaveProject, SIGNAL(triggered()), this, SLOT(slotSaveProject()));
    addAction(ui.actionNewProject);
    addAction(ui.actionOpenProject);
    addAction(ui.actionSaveProject);

    // 5. Undo stack and the Edit menu around it.
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

    // 6.
    connect(this, SIGNAL(exportSuccessful(QString, QString)), this,
            SLOT(slotStatusBarSavedMessage(QString, QString)));

    // 7. Edit actions.
    m_editActions = {ui.actionCut,       ui.actionCopy, ui.actionPaste,       ui.actionDelete,
                     ui.actionSelectAll, ui.actionHide, ui.actionUnhide_Last, ui.actionUnhide_All,
                     ui.actionRaise,     ui.actionLower};

    // 8. Views.
    m_slicingView = new SampleRendererTrevant(this, m_slicer, m_undoStack);
    m_editView = new SampleRendererEditor(this, m_slicer, m_undoStack, m_editActions);
    for (QAction *a : m_editView->effectActions())
        ui.menuEffects->addAction(a);
    m_viewStack.addWidget(m_slicingView);
    m_viewStack.addWidget(m_editView);

    // 9.
    m_zoomBar = new SampleRendererZoombar(this, m_slicer->currentSlice());
    m_transportBar = new TransportBar(this, m_slicer, m_slicingView, m_undoStack);

    // 10. Replace the placeholders.
    for (QFrame *placeholder : {ui.frameTransport, ui.frameTrevantRenderer, ui.frameZoombar}) {
        ui.verticalLayout->removeWidget(placeholder);
        placeholder->close();
    }
    ui.verticalLayout->removeWidget(ui.frameDragExport);
    ui.frameDragExport->hide();
    ui.verticalLayout->addWidget(m_transportBar);
    ui.verticalLayout->addWidget(&m_viewStack, 1);
    ui.verticalLayout->addWidget(m_zoomBar);

    // 11.
    connect(m_slicingView, SIGNAL(statusTip(QString, int)), this,
            SLOT(slotShowStatusTipMessage(QString, int)));
    connect(m_slicingView, SIGNAL(exportSuccessful(QString, QString)), this,
            SIGNAL(exportSuccessful(QString, QString)));
    enterSlicingMode();

    // 12. Edit view.
    connect(m_editView, SIGNAL(editMessage(QString)), this, SLOT(slotShowEditMessage(QString)));
    connect(m_editView, SIGNAL(selectionCopied()), this, SLOT(enablePasteActions()));
    connect(m_editView, SIGNAL(editCopied()), this, SLOT(enablePasteActions()));
    connect(m_editView, SIGNAL(cutPasted()), this, SLOT(disablePasteActions()));
    connect(m_editView, SIGNAL(freeformSelectionCreated()), this, SLOT(enableSelectionActions()));
    connect(m_editView, SIGNAL(itemSelected()), this, SLOT(enableSelectionActions()));
    connect(m_editView, SIGNAL(freeformSelectionCleared()), this, SLOT(disableSelectionActions()));
    connect(m_editView, SIGNAL(itemSelectionCleared()), this, SLOT(disableSelectionActions()));
    connect(m_editView, SIGNAL(itemSelected()), this, SLOT(enableHideActions()));
    connect(m_editView, SIGNAL(itemSelectionCleared()), this, SLOT(disableHideActions()));

    // 12. Tool bar actions.
    connect(ui.actionPlay, SIGNAL(toggled(bool)), this, SLOT(slotTogglePlayback(bool)));
    connect(ui.actionSlice4, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate4()));
    connect(ui.actionSlice8, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate8()));
    connect(ui.actionSlice16, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate16()));
    connect(ui.actionSliceAtCursor, SIGNAL(triggered()), this, SLOT(slotSliceAtCursor()));
    connect(ui.actionSliceClear, SIGNAL(triggered()), this, SLOT(slotClearSlicing()));
    connect(ui.actionSliceAtTransients, &QAction::triggered, this, &TrevantUI::slotSliceAtTransients);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &TrevantUI::slotUndoIndexChanged);
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

    // 13. Drag-export options and quick controls.
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
    }

    // A running export can be stopped from the status bar.
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

    // 14.
    setLoopActionsEnabled(false);
    ui.actionSliceAtCursor->setEnabled(false);

    // 15. Snapping and fading flags; anything but an integer counts as on.
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

    // 16, 17.
    show();
    setFocus(Qt::OtherFocusReason);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        openPath(args.last());

    // A device that disappears (unplugged, sound server gone) is noticed and re-opened;
    // the engine only reports changes, so a steady problem is not shown again and again.
    auto *healthTimer = new QTimer(this);
    healthTimer->setObjectName("timerAudioDeviceHealth");
    connect(healthTimer, SIGNAL(timeout()), this, SLOT(slotCheckAudioDeviceHealth()));
    healthTimer->start(5000);

    // The engine chose its host API before the connection above existed.
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

// --- Loading ------------------------------------------------------------------------

void TrevantUI::slotCheckAudioDeviceHealth() {
    // The sound-card thread only counts what it would have logged; the lines come from here.
    RealtimeEvents::report();
    // A live stream is cheap to check and is checked on every tick. Without any device a
    // retry restarts the sound system on this thread, which can stall the window for a
    // moment, so failed retries thin out (10 s, 15 s, 25 s ... then once a minute) until
    // a device answers again.
    constexpr int kMaxBackoffTicks = 11;
    const bool noDevice = !m_engine->outputDevice();
    if (noDevice && m_deviceRetrySkipsLeft > 0) {
        --m_deviceRetrySkipsLeft;
        return;
    }
    if (m_engine->checkAudioDeviceHealth())
        ++m_deviceRetries;
    if (!m_engine->outputDevice()) {
        m_deviceRetryBackoff = qBound(1, m_deviceRetryBackoff * 2, kMaxBackoffTicks);
        m_deviceRetrySkipsLeft = m_deviceRetryBackoff;
    } else {
        m_deviceRetryBackoff = 0;
        m_deviceRetrySkipsLeft = 0;
    }
}

void TrevantUI::slotSetupSliceConnections(Slice *pSlice) {
    if (!pSlice)
        return;
    connect(pSlice, SIGNAL(playbackToggled(bool)), this, SLOT(slotUpdatePlaybackButton(bool)),
            Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingProgress(float)), this, SLOT(slotUpdateSavingProgress(float)),
            Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingComplete()), this, SLOT(slotUpdateSavingComplete()), Qt::UniqueConnection);
    connect(pSlice, SIGNAL(savingCancelled()), this, SLOT(slotUpdateSavingCancelled()), Qt::UniqueConnection);
}

void TrevantUI::slotLoadAudioFile() {
    ui.actionPlay->setChecked(false);
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Open Audio"), startFolder(Settings::instance().value("last_load_path")),
                                     tr("Audio File (*.mp3 *.m4a *.wav *.aif *.aiff *.flac)"));
    if (file.isEmpty())
        return;
    if (!settleRenderedLoop([this, file] { slotLoadAudioFile(file); }))
        return;
    slotLoadAudioFile(file);
    Settings::instance().set("last_load_path", QFileInfo(file).absoluteDir().absolutePath());
}

bool TrevantUI::slotLoadAudioFile(QString filename) {
    bool loaded = false;
    if (!filename.isEmpty()) {
        if (!m_truncationNotice.isEmpty() && statusBar()->currentMessage() == m_truncationNotice)
            statusBar()->clearMessage();
        m_truncationNotice.clear();
        loaded = m_slicer->slotLoadLoop(filename);
        // Whatever was detected or waited for belonged to the previous loop.
        m_onsets->setSlice(m_slicer->currentSlice());
        m_transientSlicePending = false;
        m_transientRepickPending = false;
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        if (loaded) {
            ui.stackedWidgetBpm->setCurrentIndex(1);
            ui.progressBarBpm->setValue(0);
            {
                const QSignalBlocker blocker(ui.spinBoxPitch);
                ui.spinBoxPitch->setValue(0);
            }
            m_undoStack->clear();
            // Markers the file carries become its slice points, as a step the user can undo.
            const QList<int> cuePoints = CueMarkers::slicePoints(CueMarkers::read(filename));
            if (!cuePoints.isEmpty())
                m_undoStack->push(new RestoreCueMarkersCommand(m_slicer, cuePoints));
            setLoopViewsEnabled(true);
            attachLoopToViews();
            setLoopActionsEnabled(true);
            // Set outright: Qt leaves an existing title alone when the path is unchanged.
            setWindowFilePath(filename);
            setWindowTitle(QFileInfo(filename).fileName() + QStringLiteral("[*]"));
            if (ui.actionEditMode->isChecked()) {
                if (m_slicingView->isDragExportOn())
                    ui.actionDragExport->setChecked(false);
                m_slicer->setEditMode(true);
                m_editView->setSlice(m_slicer->currentSlice());
                m_editView->prepareForEditing();
                followEditsInZoomBar();
                enterEditMode();
                m_editView->setWaveformDirtyAndRepaint();
                m_viewStack.setCurrentIndex(1);
            }
            if (SlicePtr slice = m_slicer->currentSlice()) {
                // A file cut off inside its audio plays as far as it goes; the musician
                // is told why it ends early. Some formats only show it once read.
                Slice *loop = slice.data();
                connect(loop, &Slice::loadingComplete, this, [this, loop, filename] {
                    const long long missing = loop->missingFrames();
                    if (missing <= 0 || loop->fileSampleRate() <= 0)
                        return;
                    m_truncationNotice =
                        tr("%1 is cut off: %2 s of its audio are missing at the end; the rest was loaded.")
                            .arg(QFileInfo(filename).fileName())
                            .arg(double(missing) / loop->fileSampleRate(), 0, 'f', 2);
                    statusBar()->showMessage(m_truncationNotice);
                });
                connect(slice.data(), SIGNAL(bpmChanged()), this,
                        SLOT(updateQuickControlsOriginalBpmFromSlice()), Qt::UniqueConnection);
                connect(slice.data(), SIGNAL(effectiveBpmChanged()), this,
                        SLOT(updateQuickControlsNewBpmFromSlice()), Qt::UniqueConnection);
                connect(slice.data(), SIGNAL(pitchChanged()), this, SLOT(updateQuickControlsPitchFromSlice()),
                        Qt::UniqueConnection);
            }
        } else {
            m_slicingView->setSlice(SlicePtr());
            m_zoomBar->setSlice(SlicePtr());
            m_editView->setSlice(SlicePtr());
            setLoopViewsEnabled(false);
            QMessageBox::critical(this, tr("Error"),
                                  tr("%1 could not be loaded, please try another file.").arg(filename),
                                  QMessageBox::Ok);
            setLoopActionsEnabled(false);
            setWindowFilePath(QString());
            setWindowTitle(QCoreApplication::applicationName());
        }
        m_renderedLoop = false;
        m_renderedExportFolder.clear();
        setWindowModified(false);
    }
    if (m_timeStretchWindow)
        m_timeStretchWindow->refresh();
    focusLoopView();
    return loaded;
}

void TrevantUI::slotLoadRenderedLoop(QString filename) {
    if (!slotLoadAudioFile(filename))
        return;
    m_renderedLoop = true;
    setWindowModified(true);
}

void TrevantUI::focusLoopView() {
    // Whatever held the focus before (a dialog's caller, the Tempo box) must not keep the
    // keys: digits typed into the Tempo box would stretch the loop.
    QWidget *view = m_viewStack.currentWidget();
    if (view && view->isEnabled())
        view->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

bool TrevantUI::settleRenderedLoop(const std::function<void()> &then) {
    if (!isWindowModified() || !m_renderedLoop)
        return true;
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), tr("Save the stretched loop?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName("messageBoxSaveStretchedLoop");
    box.setInformativeText(tr("It exists only in a temporary file, which is deleted when another file is "
                              "opened or Quillory quits."));
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Discard)
        return true;
    if (answer == QMessageBox::Save)
        saveLoopAs(then);
    return false;
}

void TrevantUI::attachLoopToViews() {
    const SlicePtr slice = m_slicer->currentSlice();
    m_slicingView->setSlice(SlicePtr());
    m_zoomBar->setSlice(SlicePtr());
    m_editView->setSlice(SlicePtr());
    m_slicingView->setSlice(slice);
    m_zoomBar->setSlice(slice);
    m_editView->setSlice(slice);
    m_slicingView->update();
    m_zoomBar->update();
    m_editView->update();
    m_transportBar->update();
}

void TrevantUI::setLoopViewsEnabled(bool on) {
    m_slicingView->setEnabled(on);
    m_zoomBar->setEnabled(on);
    m_transportBar->setEnabled(on);
    m_editView->setEnabled(on);
}

void TrevantUI::setLoopActionsEnabled(bool on) {
    ui.toolBar->setEnabled(on);
    for (QAction *a : {ui.actionEditMode, ui.actionSaveSlices, ui.actionSaveAs, ui.actionSaveSlicesAsMidi,
                       ui.actionOpenSliceTemplate, ui.actionSaveSliceTemplateAs, ui.actionQuickExport,
                       ui.actionAdvancedSlicing, ui.actionSliceAtTransients, ui.action4, ui.action8, ui.action16, ui.action32,
                       ui.action64, ui.actionSampleProperties, ui.actionTimeStretch})
        a->setEnabled(on);
    if (m_exportKitAction)
        m_exportKitAction->setEnabled(on);
    ui.frameQuickControls->setEnabled(on);
    if (m_slicingView)
        m_slicingView->setEnabled(on);
    if (m_zoomBar)
        m_zoomBar->setEnabled(on);
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

// --- Quick controls -----------------------------------------------------------------

void TrevantUI::slotSetMasterBPM(int bpm) {
    m_engine->setEngineTempo(bpm);
}

void TrevantUI::setTrevantBPM(double fBPM) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice || fBPM <= 0.0 || slice->bpm() <= 0.0)
        return;
    slice->setStretchEnabled(true);
    slice->setTimeStretchRatio(1.0 / (fBPM / slice->bpm()), int(fBPM));
}

void TrevantUI::setTrevantPitchAdjust(int semitones) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    slice->setStretchEnabled(true);
    slice->setPitch(semitones);
}

void TrevantUI::resetQuickControls() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    // The spin boxes are set with their signals blocked: letting them through would
    // turn stretching straight back on.
    {
        const QSignalBlocker b1(ui.doubleSpinBoxBpm);
        const QSignalBlocker b2(ui.spinBoxPitch);
        if (slice->bpm() > 0.0)
            ui.doubleSpinBoxBpm->setValue(slice->bpm());
        ui.spinBoxPitch->setValue(0);
    }
    slice->setPitch(0);
    if (slice->bpm() > 0.0)
        slice->setTimeStretchRatio(1.0, int(slice->bpm()));
    slice->setStretchEnabled(false);
}

SlicePtr TrevantUI::sliceWithTempo() const {
    SlicePtr slice = m_slicer->currentSlice();
    return slice && slice->bpm() != 0.0 ? slice : SlicePtr();
}

void TrevantUI::updateQuickControlsOriginalBpmFromSlice() {
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    ui.stackedWidgetBpm->setCurrentIndex(0);
    const QSignalBlocker blocker(ui.doubleSpinBoxBpm);
    ui.doubleSpinBoxBpm->setValue(slice->bpm());
}

void TrevantUI::updateQuickControlsNewBpmFromSlice() {
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    ui.stackedWidgetBpm->setCurrentIndex(0);
    const QSignalBlocker blocker(ui.doubleSpinBoxBpm);
    ui.doubleSpinBoxBpm->setValue(slice->effectiveBpm());
}

void TrevantUI::updateQuickControlsPitchFromSlice() {
    const SlicePtr slice = sliceWithTempo();
    if (!slice)
        return;
    const QSignalBlocker blocker(ui.spinBoxPitch);
    ui.spinBoxPitch->setValue(slice->pitch());
}

void TrevantUI::slotShowBpmDetectionProgress(float fProgressFraction) {
    if (ui.stackedWidgetBpm->currentIndex() != 1)
        ui.stackedWidgetBpm->setCurrentIndex(1);
    ui.progressBarBpm->setValue(int(ui.progressBarBpm->maximum() * fProgressFraction));
}

// --- Playback -----------------------------------------------------------------------

void TrevantUI::slotUpdatePlaybackButton(bool checked) {
    {
        const QSignalBlocker blocker(ui.actionPlay);
        ui.actionPlay->setChecked(checked);
    }
    ui.actionSliceAtCursor->setEnabled(checked);
}

void TrevantUI::slotTogglePlayback(bool toggle) {
    m_slicer->togglePlayback(toggle);
}

bool TrevantUI::eventFilter(QObject *watched, QEvent *event) {
    // The reset-focus action's Escape works application-wide, so in the windows that stay
    // open beside this one it would take the key from them. There Escape closes the
    // window, as it does in every dialog.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TrevantUI::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_9) {
        SlicePtr slice = m_slicer->currentSlice();
        if (!slice)
            return; // swallowed without a loop
        const int index = key - Qt::Key_1;
        const QList<int> points = m_slicer->slicePoints();
        if (index < points.size() + 1) {
            m_slicer->playFrom(index == 0 ? 0 : points.at(index - 1));
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

// --- Slicing ------------------------------------------------------------------------

void TrevantUI::pushSliceCommand(QUndoCommand *command) {
    if (!m_slicer->currentSlice()) {
        delete command;
        return;
    }
    m_undoStack->push(command);
}

void TrevantUI::sliceInto(int slices) {
    pushSliceCommand(new AutoSliceCommand(m_slicer, slices));
}
void TrevantUI::slotUseSliceTemplate4() {
    sliceInto(4);
}
void TrevantUI::slotUseSliceTemplate8() {
    sliceInto(8);
}
void TrevantUI::slotUseSliceTemplate16() {
    sliceInto(16);
}
void TrevantUI::slotSliceIn4() {
    sliceInto(4);
}
void TrevantUI::slotSliceIn8() {
    sliceInto(8);
}
void TrevantUI::slotSliceIn16() {
    sliceInto(16);
}
void TrevantUI::slotSliceIn32() {
    sliceInto(32);
}
void TrevantUI::slotSliceIn64() {
    sliceInto(64);
}
void TrevantUI::slotSliceAudio() {}

void TrevantUI::slotSliceAtCursor() {
    const int bufferSize = Settings::instance().value("AudioDeviceBufferSize").toInt();
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    pushSliceCommand(new AddSlicePointCommand(m_slicer, qMax(0, slice->playPosition() - 2 * bufferSize)));
}

// --- Slicing at transients ----------------------------------------------------------

const TransientSlicingCommand *TrevantUI::appliedTransientCommand() const {
    const int index = m_undoStack->index();
    return index > 0 ? dynamic_cast<const TransientSlicingCommand *>(m_undoStack->command(index - 1)) : nullptr;
}

QList<int> TrevantUI::transientPoints(int sensitivity) const {
    const OnsetAnalysisPtr analysis = m_onsets->analysis();
    if (!analysis)
        return m_slicer->slicePoints();
    return OnsetAnalysisService::slicePoints(m_slicer, *analysis, sensitivity,
                                             Settings::instance().transientMinLengthMs());
}

void TrevantUI::slotSliceAtTransients() {
    const SlicePtr slice = m_slicer->currentSlice();
    if (!slice || slice->length() <= 0)
        return;
    m_transientSlicePending = true;
    if (m_onsets->analysis()) {
        applySliceAtTransients();
        return;
    }
    statusBar()->showMessage(tr("Detecting transients..."));
    m_onsets->request();
}

void TrevantUI::applySliceAtTransients() {
    m_transientSlicePending = false;
    if (!m_onsets->analysis())
        return;
    // A drag still held belongs to the points this replaces.
    m_sensitivityDragOpen = false;
    m_sensitivityCommitPending = false;
    const int sensitivity = ui.sliderTransientSensitivity->value();
    const QList<int> after = transientPoints(sensitivity);
    pushSliceCommand(new SliceAtTransientsCommand(m_slicer, m_slicer->slicePoints(), after, sensitivity));
    statusBar()->showMessage(tr("Sliced at %n transient(s).", nullptr, after.size()), 3000);
}

void TrevantUI::pushTransientSensitivity(const QList<int> &before, const QList<int> &after, int mergeSession) {
    const TransientSlicingCommand *applied = appliedTransientCommand();
    const int sensitivity = ui.sliderTransientSensitivity->value();
    if (!applied || (before == after && qRound(applied->sensitivity()) == sensitivity))
        return;
    m_pushingSensitivity = true;
    m_undoStack->push(new TransientSensitivityCommand(m_slicer, before, after, sensitivity, mergeSession));
    m_pushingSensitivity = false;
}

void TrevantUI::slotUndoIndexChanged() {
    if (!m_pushingSensitivity) {
        // Another step came in between (or the user undid one): what the control was doing
        // no longer starts from the points it remembered.
        ++m_sensitivitySession;
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        m_transientRepickPending = false;
    }
    const TransientSlicingCommand *applied = appliedTransientCommand();
    if (!applied) {
        ui.widgetTransientSensitivity->hide();
        return;
    }
    if (!m_pushingSensitivity) {
        const QSignalBlocker blocker(ui.sliderTransientSensitivity);
        ui.sliderTransientSensitivity->setValue(qRound(applied->sensitivity()));
        ui.labelTransientSensitivityValue->setNum(ui.sliderTransientSensitivity->value());
    }
    ui.widgetTransientSensitivity->show();
}

void TrevantUI::slotTransientAnalysisProgress(double fraction) {
    statusBar()->showMessage(tr("Detecting transients... %1%").arg(int(qBound(0.0, fraction, 1.0) * 100.0)));
}

void TrevantUI::slotTransientAnalysisReady() {
    statusBar()->clearMessage();
    if (m_transientSlicePending) {
        applySliceAtTransients();
        return;
    }
    if (!m_transientRepickPending)
        return;
    m_transientRepickPending = false;
    const QList<int> points = transientPoints(ui.sliderTransientSensitivity->value());
    if (ui.sliderTransientSensitivity->isSliderDown()) {
        m_slicer->setSlicePoints(points);
    } else if (m_sensitivityCommitPending) {
        m_sensitivityDragOpen = false;
        m_sensitivityCommitPending = false;
        pushTransientSensitivity(m_sensitivityDragBefore, points, -1);
    } else {
        pushTransientSensitivity(m_slicer->slicePoints(), points, m_sensitivitySession);
    }
}

void TrevantUI::slotTransientSensitivityPressed() {
    m_sensitivityDragOpen = true;
    m_sensitivityCommitPending = false;
    m_sensitivityDragBefore = m_slicer->slicePoints();
}

void TrevantUI::slotTransientSensitivityChanged(int value) {
    ui.labelTransientSensitivityValue->setNum(value);
    if (!appliedTransientCommand())
        return;
    const bool dragging = ui.sliderTransientSensitivity->isSliderDown();
    // A drag that an undo interrupted goes on from the points the undo left.
    if (dragging && !m_sensitivityDragOpen)
        slotTransientSensitivityPressed();
    if (!m_onsets->analysis()) {
        m_transientRepickPending = true;
        statusBar()->showMessage(tr("Detecting transients..."));
        m_onsets->request();
        return;
    }
    const QList<int> points = transientPoints(value);
    if (dragging)
        m_slicer->setSlicePoints(points); // drawn at once; the release makes the undo step
    else
        pushTransientSensitivity(m_slicer->slicePoints(), points, m_sensitivitySession);
}

void TrevantUI::slotTransientSensitivityReleased() {
    if (!m_sensitivityDragOpen)
        return;
    if (m_transientRepickPending) {
        m_sensitivityCommitPending = true;
        return;
    }
    m_sensitivityDragOpen = false;
    pushTransientSensitivity(m_sensitivityDragBefore, m_slicer->slicePoints(), -1);
}

void TrevantUI::slotClearSlicing() {
    pushSliceCommand(new ClearSlicingCommand(m_slicer));
}

void TrevantUI::slotToggleSnapToZeroCrossings(bool on) {
    Settings::instance().set("snap_to_zero_crossings", on ? "1" : "0");
}

void TrevantUI::slotToggleFadeInOutSlices(bool on) {
    Settings::instance().set("fade_in_out_slices", on ? "1" : "0");
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
    // Every change of the edits ends in a reset of the rendered audio; a detection kept
    // from before it no longer fits what plays.
    if (QSharedPointer<EditableAudioCache> cache = m_editView->editableCache())
        connect(cache.data(), &EditableAudioCache::cacheUpdateProgress, m_onsets, &OnsetAnalysisService::invalidate,
                Qt::UniqueConnection);
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
    for (QAction *a : m_editActions) {
        a->setEnabled(false);
        a->disconnect(m_editView);
    }
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
    ui.actionUnhide_Last->setEnabled(true);
    ui.actionUnhide_All->setEnabled(true);
    // In the order of the edit action list.
    const char *editSlots[] = {SLOT(slotCut()),           SLOT(slotCopy()),  SLOT(slotPaste()),
                               SLOT(slotDelete()),        SLOT(selectAll()), SLOT(hideSelectedEdits()),
                               SLOT(unhideLast()),        SLOT(unhideAll()), SLOT(raiseSelectedEdits()),
                               SLOT(lowerSelectedEdits())};
    for (int i = 0; i < m_editActions.size(); ++i) {
        m_editActions[i]->disconnect(m_editView);
        connect(m_editActions[i], SIGNAL(triggered()), m_editView, editSlots[i]);
    }
    ui.actionDragExport->setEnabled(false);
    ui.actionSlice4->setEnabled(false);
    ui.actionSlice8->setEnabled(false);
    ui.actionSlice16->setEnabled(false);
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

void TrevantUI::dragEnterEvent(QDragEnterEvent *event) {
    qDebug() << "Drag enter event" << event->mimeData()->hasUrls();
    if (event->mimeData()->urls().size() == 1)
        event->acceptProposedAction();
}

void TrevantUI::dropEvent(QDropEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1)
        return;
    const QString path = urls.first().toLocalFile();
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    qDebug() << "Drop event" << path;
    // Loading runs after the drop has finished, so a failure's message box does not
    // sit inside the drag-and-drop machinery.
    QTimer::singleShot(0, this, [this, path] { openPath(path); });
}

void TrevantUI::openPath(const QString &path) {
    // The desktop hands projects and templates to the program as it hands it audio
    // (menu entry, file manager, drops), so each goes where its own Open command goes.
    if (SliceTemplate::isTemplatePath(path))
        loadSliceTemplate(path);
    else if (QFileInfo(path).suffix().compare(QLatin1String("qlx"), Qt::CaseInsensitive) == 0)
        openProject(path);
    else if (settleRenderedLoop([this, path] { openPath(path); }))
        slotLoadAudioFile(path);
}

// --- Dialogs and the rest -----------------------------------------------------------

void TrevantUI::slotShowPreferences() {
    auto *dialog = new PreferencesUI(this, m_engine);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TrevantUI::slotShowAdvancedSlicing() {
    auto *dialog = new AdvancedSlicingUI(this, m_slicer, m_undoStack);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &AdvancedSlicingUI::sliceAtTransientsRequested, this, &TrevantUI::slotSliceAtTransients);
    dialog->open();
}

void TrevantUI::slotShowTimeStretchWindow() {
    if (!m_timeStretchWindow) {
        m_timeStretchWindow = new TimeStretchUI(this, m_slicer);
        connect(m_timeStretchWindow, &TimeStretchUI::temporaryFileRendered, this,
                &TrevantUI::slotLoadRenderedLoop);
        m_timeStretchWindow->installEventFilter(this);
    }
    m_timeStretchWindow->refresh();
    m_timeStretchWindow->show();
}

void TrevantUI::slotShowSamplePropertiesWindow() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    auto *dialog = new SamplePropertiesUI(this, slice);
    dialog->exec();
    delete dialog;
}

void TrevantUI::slotAbout() {
    auto *dialog = new AboutUI(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void TrevantUI::slotNewProject() {
    m_engine->clearSamplerBank();
}
void TrevantUI::slotOpenProject() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Project"), startFolder(Settings::instance().value("last_load_project_path")),
        tr("Quillory Projects (*.qlx)"));
    if (!path.isEmpty())
        openProject(path);
}

bool TrevantUI::openProject(const QString &path) {
    QString error;
    QStringList missing;
    if (!ProjectFile::load(m_engine, path, &error, &missing)) {
        QMessageBox::critical(this, tr("Error"), error);
        return false;
    }
    if (!missing.isEmpty())
        QMessageBox::warning(this, tr("Open Project"),
                             tr("These samples could not be found:\n%1").arg(missing.join("\n")));
    Settings::instance().set("last_load_project_path", QFileInfo(path).absolutePath());
    return true;
}

void TrevantUI::slotSaveProject() {
    const QString path =
        askSavePath(this, tr("Save Project"), startFolder(Settings::instance().value("last_load_project_path")),
                    tr("Quillory Projects (*.qlx)"), QStringLiteral("qlx"), &ProjectFile::withProjectSuffix);
    if (path.isEmpty())
        return;
    QString error, written;
    if (!ProjectFile::save(m_engine, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    Settings::instance().set("last_load_project_path", QFileInfo(written).absolutePath());
}

void TrevantUI::slotUserManual() {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/Quillory Manual.pdf"));
}

void TrevantUI::slotPlayPreview(QString filePath) {
    m_engine->setPreviewFile(filePath);
}

QString TrevantUI::savedMessage(const QString &baseFilePath, const QString &fileName) {
    const QString sep = QDir::separator();
    const QString full = baseFilePath + sep + fileName;
    const QString shown = full.size() <= 40 ? full : baseFilePath.left(32) + ".." + sep + fileName;
    return shown + " successfully saved.";
}

void TrevantUI::slotStatusBarSavedMessage(QString baseFilePath, QString fileName) {
    statusBar()->showMessage(savedMessage(baseFilePath, fileName), 2000);
}

QString TrevantUI::loopFolder() const {
    SlicePtr slice = m_slicer->currentSlice();
    return slice ? QFileInfo(slice->fileName()).absolutePath() : QString();
}

bool TrevantUI::settleCollisions(SliceExporter *exporter) {
    const QStringList existing = exporter->existingTargets();
    if (existing.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Question, tr("Save Slices"),
                    existing.size() == 1
                        ? tr("A file with this name exists already.")
                        : tr("%1 files with these names exist already.").arg(existing.size()),
                    QMessageBox::Cancel, this);
    box.setDetailedText(existing.join("\n"));
    QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton *keep = box.addButton(tr("Keep Both"), QMessageBox::AcceptRole);
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == replace)
        exporter->setCollision(SliceExporter::Collision::Overwrite);
    else if (box.clickedButton() == keep)
        exporter->setCollision(SliceExporter::Collision::KeepBoth);
    else
        return false;
    return true;
}

void TrevantUI::startExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd) {
    if (!exporter) {
        statusBar()->showMessage(tr("There is nothing to export."), 3000);
        return;
    }
    exporter->setParent(this);
    if (!trackExport(exporter, std::move(onEnd))) {
        delete exporter;
        return;
    }
    exporter->start();
}

bool TrevantUI::trackExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd) {
    if (m_exporter) {
        statusBar()->showMessage(tr("An export is already running."), 3000);
        return false;
    }
    m_exporter = exporter;
    m_exportOutcomeLabel->hide();
    connect(exporter, &SliceExporter::fileWritten, this, &TrevantUI::exportSuccessful);
    connect(exporter, &SliceExporter::finished, this, [this, exporter, onEnd] {
        m_cancelExportButton->hide();
        showExportOutcome(exporter);
        if (exporter->status() == SliceExporter::Status::Failed)
            QMessageBox::critical(this, tr("Error"), exporter->errorMessage());
        m_exporter = nullptr;
        exporter->deleteLater();
        if (onEnd)
            onEnd(exporter);
    });
    m_cancelExportButton->show();
    return true;
}

QString TrevantUI::exportOutcomeText() const {
    return m_exportOutcomeLabel->isVisibleTo(statusBar()) ? m_exportOutcomeLabel->text() : QString();
}

void TrevantUI::showExportOutcome(SliceExporter *exporter) {
    const QStringList written = exporter->writtenFiles();
    const int count = written.size();
    const QString files = count == 1 ? tr("1 file") : tr("%1 files").arg(count);
    QString text;
    if (count > 0) {
        const QString folder = QFileInfo(written.constFirst()).absolutePath();
        const QString link = QStringLiteral("<a href=\"%1\">%2</a>")
                                 .arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                      QDir::toNativeSeparators(folder).toHtmlEscaped());
        switch (exporter->status()) {
        case SliceExporter::Status::Completed:
            text = tr("%1 written to %2").arg(files, link);
            break;
        case SliceExporter::Status::Cancelled:
            text = tr("Export cancelled: %1 already written are left in %2").arg(files, link);
            break;
        default:
            text = tr("Export failed: %1 written before the failure are left in %2").arg(files, link);
            break;
        }
    } else if (exporter->status() == SliceExporter::Status::Cancelled) {
        text = tr("Export cancelled: no file was written.");
    } else if (exporter->status() == SliceExporter::Status::Failed) {
        text = tr("Export failed: no file was written.");
    }
    if (text.isEmpty())
        return;
    // Temporary messages hide the label while they show; it comes back after them.
    statusBar()->clearMessage();
    m_exportOutcomeLabel->setText(text);
    m_exportOutcomeLabel->show();
}

void TrevantUI::slotSaveAs() {
    saveLoopAs({});
}

void TrevantUI::saveLoopAs(std::function<void()> then) {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    // A render lives in a temporary folder, which is no place to offer for keeping it.
    const QString folder =
        m_renderedLoop ? startFolder(Settings::instance().value("last_load_path")) : loopFolder();
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save As"), folder + "/" + slice->baseName() + ".wav",
                                     tr("WAV Audio (*.wav);;AIFF Audio (*.aif *.aiff);;FLAC Audio (*.flac)"));
    if (path.isEmpty())
        return;
    const QPointer<Slice> saved = slice.data();
    startExport(SliceExporter::forSaveAs(m_slicer, path), [this, saved, then](SliceExporter *exporter) {
        if (exporter->status() != SliceExporter::Status::Completed)
            return;
        if (m_renderedLoop && saved && saved == m_slicer->currentSlice().data()) {
            setWindowModified(false);
            if (m_renderedExportFolder.isEmpty() && !exporter->writtenFiles().isEmpty())
                m_renderedExportFolder = SliceExporter::quickExportFolder(exporter->writtenFiles().constFirst());
        }
        if (then)
            then();
    });
}

void TrevantUI::slotSaveSlicesAsMidi() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    const QString path = QFileDialog::getSaveFileName(this, tr("Save Slices as MIDI"),
                                                      loopFolder() + "/" + slice->baseName() + ".mid",
                                                      tr("MIDI Files (*.mid)"));
    if (path.isEmpty())
        return;
    QString error, written;
    if (!MidiSliceWriter::save(m_slicer, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    const QFileInfo info(written);
    emit exportSuccessful(QDir::toNativeSeparators(info.absolutePath()), info.fileName());
}

void TrevantUI::slotExportSlicesToDisk() {
    if (!m_slicer->currentSlice())
        return;
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save Slices"), loopFolder());
    if (folder.isEmpty())
        return;
    SliceExporter *exporter = SliceExporter::forSlices(m_slicer, folder);
    if (exporter && !settleCollisions(exporter)) {
        delete exporter;
        return;
    }
    startExport(exporter);
}

void TrevantUI::slotExportSlicesWithPrefix(QString prefix) {
    if (!m_slicer->currentSlice() || prefix.isEmpty())
        return;
    SliceExporter *exporter = SliceExporter::forPrefix(m_slicer, prefix);
    if (exporter && !settleCollisions(exporter)) {
        delete exporter;
        return;
    }
    startExport(exporter);
}

void TrevantUI::slotExportSlicesQuick() {
    if (!m_slicer->currentSlice())
        return;
    if (!m_renderedLoop) {
        startExport(SliceExporter::forQuickExport(m_slicer));
        return;
    }
    // Next to a render would mean inside the temporary folder that goes with it.
    if (m_renderedExportFolder.isEmpty()) {
        const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Quick Export: Folder for the Stretched Loop's Slices"),
            startFolder(Settings::instance().value("last_load_path")));
        if (folder.isEmpty())
            return;
        m_renderedExportFolder = folder;
    }
    SliceExporter *exporter = SliceExporter::forSlices(m_slicer, m_renderedExportFolder);
    if (exporter)
        exporter->setCollision(SliceExporter::Collision::KeepBoth);
    startExport(exporter);
}

void TrevantUI::slotExportSlicesToSampler() {}

void TrevantUI::slotExportKit() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    ExportKitUI dialog(slice->fileName(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    KitExporter *exporter = KitExporter::forSlicer(m_slicer, dialog.options());
    if (exporter && !exporter->existingKitTargets().isEmpty()) {
        QMessageBox box(QMessageBox::Question, tr("Export Kit"),
                        tr("A kit named \"%1\" exists already in this folder.").arg(exporter->options().name),
                        QMessageBox::Cancel, this);
        box.setDetailedText(exporter->existingKitTargets().join("\n"));
        QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
        box.exec();
        if (box.clickedButton() != replace) {
            delete exporter;
            return;
        }
        exporter->setOverwrite(true);
    }
    startExport(exporter);
}

bool TrevantUI::loadSliceTemplate(const QString &path) {
    QString error;
    if (!SliceTemplate::loadInto(m_slicer, path, m_undoStack, &error)) {
        QMessageBox::critical(this, tr("Error"), error);
        return false;
    }
    m_slicingView->update();
    return true;
}

void TrevantUI::slotLoadSliceTemplate() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Load Slice Template..."), startFolder(Settings::instance().value("last_slicetemplate_load_path")),
        tr("Slice Templates (*.qlst)"));
    if (path.isEmpty())
        return;
    if (loadSliceTemplate(path))
        Settings::instance().set("last_slicetemplate_load_path", QFileInfo(path).absolutePath());
}

void TrevantUI::slotSaveSliceTemplate() {
    SlicePtr slice = m_slicer->currentSlice();
    if (!slice)
        return;
    const QString path = askSavePath(
        this, tr("Save Slice Template..."),
        startFolder(Settings::instance().value("last_slicetemplate_load_path")) + "/" + slice->baseName(),
        tr("Slice Templates (*.qlst)"), QStringLiteral("qlst"), &SliceTemplate::withTemplateSuffix);
    if (path.isEmpty())
        return;
    QString error, written;
    if (!SliceTemplate::saveFrom(m_slicer, path, &error, &written)) {
        QMessageBox::critical(this, tr("Error"), error);
        return;
    }
    Settings::instance().set("last_slicetemplate_load_path", QFileInfo(written).absolutePath());
}

void TrevantUI::slotUpdateSavingProgress(float fraction) {
    statusBar()->showMessage("Saving " + QString::number(double(fraction) * 100.0, 'f', 1) + "%");
}

void TrevantUI::slotUpdateSavingComplete() {
    statusBar()->showMessage("Saving Complete.", 2000);
}
void TrevantUI::slotUpdateSavingCancelled() {
    statusBar()->clearMessage();
}

void TrevantUI::slotUpdateBpmDetected() {
    SlicePtr slice = m_slicer->currentSlice();
    if (slice)
        statusBar()->showMessage(QString("Tempo Calculated: %1 BPM").arg(slice->bpm(), 0, 'g'), 3000);
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
