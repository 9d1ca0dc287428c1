#pragma once

#include "Slice.h"
#include "Ui_DlgTimeStretch.h"

#include <QButtonGroup>
#include <QDialog>
#include <QPointer>
#include <QStringList>

class OfflineStretchRenderer;
class Trevant;

// The "Time Stretch and Pitch Adjust" tool window: the loop's target tempo and
// pitch, Rubber Band's options (by preset or one by one), real-time preview, a
// tempo calculator for a looped region of known length, and "Save...", which
// renders the stretched loop offline and announces the file through
// temporaryFileRendered so that the main window opens it as the new loop.
class TimeStretchUI : public QDialog {
    Q_OBJECT
public:
    TimeStretchUI(QWidget *parent, Trevant *slicer);
    ~TimeStretchUI() override;

    // Brings the window in step with the current loop; the main window calls it
    // each time it shows the window. Does nothing without a loop.
    void refresh();

    // The Rubber Band option words the six rows currently select, OR-ed together.
    int selectedOptions() const;
    bool isRendering() const { return m_bRendering; }
    // Rendered files still on disk; they are removed when the window is destroyed.
    QStringList renderedFiles() const { return m_renderedFiles; }

signals:
    void temporaryFileRendered(QString tempFileName);

public slots:
    void resetToDefaults();
    void showManualBpmCalculatorWhatsThis();
    void calculateBPMFromLoop();
    void timeStretchToBPM(double fBPM);
    void updateOriginalBPMDependencies(double fBPM);
    void pitchAdjustSemitones(int semitones);
    void togglePreview(bool enable);
    void updatePreviewButtonState(bool checked);
    void updateChoices();
    void setQualityPreset(int preset);
    void setTransientControl(int option);
    void setTransientDetector(int detector);
    void setAnalysisWindow(int window);
    void setSmoothing(int smoothing);
    void setFormantPreservation(int formant);
    void setStereoProcessing(int stereo);
    void updateSavingProgress(float progress);
    void savingComplete();
    void bpmCalculationProgress();
    void bpmCalculationFinished();
    void updatePitchFromSlice();
    void updateOriginalBpmFromSlice();
    void updateNewBpmFromSlice();

    void accept() override;
    void reject() override;

private slots:
    void slotSliceLoaded();
    void slotRenderFinished(const QString &fileName);
    void slotRenderCancelled();
    void slotRenderFailed(const QString &message);

private:
    SlicePtr slice() const;
    // Connects the current loop's signals to this window (once per loop).
    void connectSlice();
    // Gives the loop's stretcher the options the rows show.
    void applyOptionsToSlice(const SlicePtr &slice);
    void endRender();

    Ui_DlgTimeStretch ui;
    Trevant *m_pSlicer;
    QButtonGroup m_applyToGroup;
    QButtonGroup m_qualityPresetGroup;
    QButtonGroup m_transientsGroup;
    QButtonGroup m_detectorGroup;
    QButtonGroup m_windowGroup;
    QButtonGroup m_smoothingGroup;
    QButtonGroup m_formantGroup;
    QButtonGroup m_stereoGroup;
    bool m_bRendering = false;
    bool m_bClosed = false;

    QPointer<Slice> m_pConnectedSlice;
    QPointer<Slice> m_pOptionsAppliedTo;
    OfflineStretchRenderer *m_pRenderer = nullptr;
    QPointer<Slice> m_pRenderSlice;
    QStringList m_renderedFiles;
};
