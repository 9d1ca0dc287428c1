#pragma once

#include "Ui_QuilloryMainWindow.h"

#include <QMainWindow>
#include <QPointer>
#include <QSharedPointer>
#include <QStackedWidget>
#include <functional>

class QButtonGroup;
class QLabel;
class QPushButton;
class SliceExporter;
class QUndoStack;
class QUndoCommand;
class SampleRendererTrevant;
class SampleRendererEditor;
class SampleRendererZoombar;
class TransportBar;
class TimeStretchUI;
class SliceEngine;
class Trevant;
class Slice;
class OnsetAnalysisService;
class TransientSlicingCommand;

// The application's only main window: owns the engine, the views and the undo stack,
// and turns menu, tool-bar, keyboard and drop gestures into calls on the slicer.
//
// The class is split by concern: TrevantUI.cpp holds the setup steps, the modes and the
// edit-action table, the drops and the audio device; TrevantUIFiles.cpp loading, saving,
// projects, templates, exports and dialogs; TrevantUISlicing.cpp quick controls, playback
// and slicing.
class TrevantUI : public QMainWindow {
    Q_OBJECT
public:
    TrevantUI();
    ~TrevantUI() override;

    TrevantUI(const TrevantUI &) = delete;
    TrevantUI &operator=(const TrevantUI &) = delete;

    // For tests and the application object.
    Ui_QuilloryMainWindow &form() { return ui; }
    SliceEngine *engine() const { return m_engine; }
    Trevant *slicer() const { return m_slicer; }
    QUndoStack *undoStack() const { return m_undoStack; }
    SampleRendererTrevant *slicingView() const { return m_slicingView; }
    SampleRendererZoombar *zoomBar() const { return m_zoomBar; }
    TransportBar *transportBar() const { return m_transportBar; }
    OnsetAnalysisService *onsetAnalysis() const { return m_onsets; }
    SampleRendererEditor *editView() const { return m_editView; }

    // Opens a file the desktop hands over (command line, drop, file-open event): a slice
    // template, a project or audio, each the way its own Open command does.
    void openPath(const QString &path);

    // How often the periodic device check has actually re-opened the sound system.
    int audioDeviceRetries() const { return m_deviceRetries; }

    // Shortens an export path for the status bar (exposed for tests).
    static QString savedMessage(const QString &baseFilePath, const QString &fileName);
    // The folders Help > User Manual looks in for the manual, first match wins: the
    // installed documents (relative to the program, then at the configured prefix), then
    // the program's own folder, where a build puts it.
    static QStringList manualFolders();
    static const char *const kManualFileName;
    // What the status bar says when an export ends (exposed for tests).
    QString exportOutcomeText() const;

signals:
    void closed();
    void exportSuccessful(QString baseFilePath, QString fileName);

public slots:
    void slotSetupSliceConnections(Slice *pSlice);
    void slotUpdatePlaybackButton(bool checked);
    void slotSliceAudio();
    void slotLoadAudioFile();
    bool slotLoadAudioFile(QString filename);
    // Loads a loop the Time Stretch window rendered into a temporary file: it stays an
    // unsaved document until it is saved with Save As.
    void slotLoadRenderedLoop(QString filename);
    void slotQuit();
    void slotSetMasterBPM(int bpm);
    void setTrevantBPM(double fBPM);
    void setTrevantPitchAdjust(int semitones);
    void resetQuickControls();
    void updateQuickControlsOriginalBpmFromSlice();
    void updateQuickControlsNewBpmFromSlice();
    void updateQuickControlsPitchFromSlice();
    void slotShowBpmDetectionProgress(float fProgressFraction);
    void slotTogglePlayback(bool toggle);
    void slotShowPreferences();
    void slotShowAdvancedSlicing();
    void slotShowTimeStretchWindow();
    void slotShowSamplePropertiesWindow();
    void slotNewProject();
    void slotOpenProject();
    void slotSaveProject();
    void slotAbout();
    void slotUserManual();
    void slotPlayPreview(QString filePath);
    void slotStatusBarSavedMessage(QString baseFilePath, QString fileName);
    void slotUseSliceTemplate4();
    void slotUseSliceTemplate8();
    void slotUseSliceTemplate16();
    void slotSliceIn4();
    void slotSliceIn8();
    void slotSliceIn16();
    void slotSliceIn32();
    void slotSliceIn64();
    void slotSliceAtCursor();
    // Slices at the detected hits once the detection is ready (at once when it is kept).
    void slotSliceAtTransients();
    void slotClearSlicing();
    void slotSaveAs();
    void slotSaveSlicesAsMidi();
    void slotExportSlicesToDisk();
    void slotExportSlicesWithPrefix(QString prefix);
    void slotExportSlicesQuick();
    void slotExportSlicesToSampler();
    void slotExportKit();
    void slotToggleDragExport(bool enable);
    void slotToggleEditMode(bool on);
    void slotLoadSliceTemplate();
    void slotSaveSliceTemplate();
    void slotToggleSnapToZeroCrossings(bool on);
    void slotToggleFadeInOutSlices(bool on);
    void slotUpdateSavingProgress(float fraction);
    void slotUpdateSavingComplete();
    void slotUpdateSavingCancelled();
    void slotUpdateBpmDetected();
    void slotSetDragExportDragMode(int mode);
    void slotShowEditMessage(QString whatWasDone);
    void slotShowStatusTipMessage(QString message, int msec);
    void enablePasteActions();
    void disablePasteActions();
    void enableSelectionActions();
    void disableSelectionActions();
    void enableHideActions();
    void disableHideActions();
    // Shows a device problem with its suggestion and a way to the preferences.
    void slotShowAudioDeviceError(QString error, QString suggestion);
    // Periodic device check, thinned out while there is no device at all.
    void slotCheckAudioDeviceHealth();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The setup steps of the constructor, in the order it runs them.
    void setUpForm();
    void setUpEngine();
    void setUpToolBar();
    void setUpFileActions();
    void setUpEditMenu();
    void setUpViews();
    void connectEditView();
    void setUpToolBarActions();
    void setUpQuickControls();
    void setUpStatusBar();
    void restoreInitialState();
    void fitIntoScreen();
    void openCommandLinePath();
    void startDeviceMonitoring();
    void showSettingsProblem();

    void enterSlicingMode();
    void enterEditMode();
    // Unhide Last and Unhide All are on only in edit mode with something hidden to show.
    void updateUnhideActions();
    // The actions of the edit-action table, in its order, and their one-time wiring.
    QList<QAction *> editActions() const;
    void connectEditActions();
    void followEditsInZoomBar();
    void unlinkViews();
    // The current loop when it has a tempo, else null.
    QSharedPointer<Slice> sliceWithTempo() const;
    void setLoopActionsEnabled(bool on);
    void pushSliceCommand(QUndoCommand *command);
    void sliceInto(int slices);
    void setLoopViewsEnabled(bool on);
    void attachLoopToViews();
    QString loopFolder() const;
    // Asks what to do about existing files; false when the user cancels.
    bool settleCollisions(SliceExporter *exporter);
    // onEnd runs when the export is over, whatever its outcome.
    void startExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd = {});
    // Shows a started-to-be export's progress and Cancel and its outcome; false (and a
    // message) while another export runs.
    bool trackExport(SliceExporter *exporter, std::function<void(SliceExporter *)> onEnd);
    void showExportOutcome(SliceExporter *exporter);
    // Save As; then runs once the loop is written completely.
    void saveLoopAs(std::function<void()> then);
    // File menu: whether Save As keeps the slice points inside the saved file.
    void addSliceMarkersOption();
    // Before the loaded loop is replaced or the program quits: a stretched loop that was
    // never saved is offered for saving. True when the caller may go on at once; false
    // when the user cancelled or a save runs (then runs after it has succeeded).
    bool settleRenderedLoop(const std::function<void()> &then);
    void focusLoopView();
    bool loadSliceTemplate(const QString &path);
    bool openProject(const QString &path);

    // Slicing at transients. The sensitivity control is shown while the last applied
    // undo step that could have changed the points (loop and tempo steps cannot) is a
    // transient slicing; it shows that step's sensitivity.
    const TransientSlicingCommand *appliedTransientCommand() const;
    // How the status bar starts while transients are being detected.
    QString transientProgressText() const;
    // Whether a slicing at transients or a sensitivity change waits for the detection.
    bool isWaitingForTransients() const;
    void slotSlicePointsChanged();
    // The start of the status message that announces a detected tempo.
    static QString tempoMessagePrefix();
    QList<int> transientPoints(int sensitivity, double minLengthMs, bool snapToZeroCrossings) const;
    QList<int> repickedTransientPoints(int sensitivity) const;
    void applySliceAtTransients();
    void pushTransientSensitivity(const QList<int> &before, const QList<int> &after, int mergeSession);
    void slotUndoIndexChanged();
    void slotTransientAnalysisReady();
    void slotTransientAnalysisProgress(double fraction);
    void slotTransientSensitivityPressed();
    void slotTransientSensitivityChanged(int value);
    void slotTransientSensitivityReleased();

    Ui_QuilloryMainWindow ui;
    SliceEngine *m_engine = nullptr;
    Trevant *m_slicer = nullptr;
    QAction *m_resetFocusAction = nullptr;
    QStackedWidget m_viewStack;
    SampleRendererTrevant *m_slicingView = nullptr;
    SampleRendererZoombar *m_zoomBar = nullptr;
    SampleRendererEditor *m_editView = nullptr;
    TransportBar *m_transportBar = nullptr;
    // The last size below the minimum that the window asked to leave (see resizeEvent).
    QSize m_undersize;
    QUndoStack *m_undoStack = nullptr;
    TimeStretchUI *m_timeStretchWindow = nullptr;
    QButtonGroup *m_dragExportGroup = nullptr;
    QPointer<SliceExporter> m_exporter;
    QPushButton *m_cancelExportButton = nullptr;
    // Where the last export went, as a link that opens the folder.
    QLabel *m_exportOutcomeLabel = nullptr;
    QAction *m_exportKitAction = nullptr;
    bool m_quitting = false;
    // The loaded loop is a stretched render in a temporary folder; its slices go to the
    // folder asked for once (after a Save As, next to the saved loop).
    bool m_renderedLoop = false;
    QString m_renderedExportFolder;
    // The status bar's word that the loaded file is cut off or silent for its channels;
    // taken back by the next load.
    QString m_loadNotice;
    OnsetAnalysisService *m_onsets = nullptr;
    // Slice at Transients was asked for and waits for the detection.
    bool m_transientSlicePending = false;
    // The sensitivity moved while the detection was not ready; it is re-picked on arrival.
    bool m_transientRepickPending = false;
    // An open sensitivity drag and the points it started from; released before the
    // detection was ready, it is committed on arrival.
    bool m_sensitivityDragOpen = false;
    bool m_sensitivityCommitPending = false;
    QList<int> m_sensitivityDragBefore;
    // Keyboard and wheel steps of one session merge into one undo step. A new session
    // starts when the control gains focus or another undo step comes in between.
    int m_sensitivitySession = 0;
    bool m_pushingSensitivity = false;
    bool m_deviceErrorShown = false;
    int m_deviceRetries = 0;
    int m_deviceRetryBackoff = 0; // health ticks skipped after the last failed retry
    int m_deviceRetrySkipsLeft = 0;
};
