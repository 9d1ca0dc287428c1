#pragma once

#include "Slice.h"
#include "TapTempo.h"

#include <QWidget>
#include <functional>

class QMenu;
class QPushButton;
class QToolButton;
class QUndoStack;
class Trevant;

// Beside the Tempo box: a drop-down of the tempi the detected one is most likely
// confused with (relation, tempo and a confidence bar, best first) whose button shows
// the detection's confidence as a coloured bar, and a Tap button. Choosing a tempo or
// tapping one sets the loop's tempo as typing it in Sample Properties does, as one undo
// step (a run of taps is one step).
class TempoAlternativesWidget : public QWidget {
    Q_OBJECT
public:
    TempoAlternativesWidget(QWidget *parent, Trevant *slicer, QUndoStack *undoStack);

    // Milliseconds on a steady clock, for the taps; tests drive it by hand.
    void setClock(std::function<long long()> clock);
    // T pressed in view (without modifiers) taps too.
    void tapOnKeyIn(QWidget *view);

    QToolButton *alternativesButton() const { return m_pButton; }
    QPushButton *tapButton() const { return m_pTapButton; }

    // A bar of fraction (0–1) of its width in the confidence colour of that fraction.
    static QPixmap confidenceBar(double fraction, const QSize &size);

public slots:
    void slotTap();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void slotLoopLoaded();
    void slotRefresh();

private:
    void chooseTempo(double bpm, int mergeSession);

    Trevant *m_pSlicer;
    QUndoStack *m_pUndoStack;
    QToolButton *m_pButton;
    QMenu *m_pMenu;
    QPushButton *m_pTapButton;
    TapTempo m_tapTempo;
    std::function<long long()> m_clock;
    int m_iTapSession = 0;
};
