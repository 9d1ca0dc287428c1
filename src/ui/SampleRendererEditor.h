#pragma once

#include "AudioEdit.h"
#include "EditCommands.h"
#include "SampleRenderer.h"

#include <QList>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QVector>

#include <memory>

class AudioEditItem;
class EditableAudioCache;
class QAction;
class QMenu;
class QUndoCommand;
class QUndoStack;
class Trevant;

// The waveform view of edit mode. Over the waveform it draws the loop's edits as items,
// a freeform selection of audio and the slice points; the context menu and the effect
// actions make edits over the selection; items are selected, moved and resized with the
// mouse; edits are grouped, hidden, raised, lowered, copied, cut and pasted, and regions
// of the loop deleted or trimmed away. Every change of the edit list is an undo command on
// the main window's undo stack.
//
// The class is split by concern: SampleRendererEditor.cpp holds the loop, the cache, the
// items and the selection; SampleRendererEditorGestures.cpp the mouse and keyboard, with
// one drag object per gesture (SampleRendererEditorDrag.h);
// SampleRendererEditorOperations.cpp the edit, clipboard, hide and order operations; and
// SampleRendererEditorPainting.cpp the painting.
class SampleRendererEditor : public SampleRenderer {
    Q_OBJECT
public:
    // Pixel tolerances of the mouse: selection edges, item edges, snapping, drag start and
    // the auto-scroll margin.
    static constexpr int kSelectionEdgePixels = 7;
    static constexpr int kItemEdgePixels = 8;
    static constexpr int kSnapPixels = 5;
    static constexpr int kDragStartPixels = 5;
    static constexpr int kScrollMarginPixels = 30;

    // editActions are the main window's actions shown after the edit actions in the
    // context menu (cut, copy, paste, ...).
    SampleRendererEditor(QWidget *parent, Trevant *slicer, QUndoStack *undoStack,
                         const QList<QAction *> &editActions);
    ~SampleRendererEditor() override;

    // The actions of the Effects menu: the eight edit actions in context-menu order, then
    // "New Group".
    QList<QAction *> effectActions() const;
    QMenu *contextMenu() const { return m_pContextMenu; }

    // Attaches the view to a loop (null detaches); edits are only reachable once the loop's
    // cache is editable (see prepareForEditing).
    void setSlice(QSharedPointer<Slice> loop) override;
    // Makes the view edit the slicer's current loop, whose cache must already be editable
    // (the slicer's setEditMode(true)): connects the cache and builds an item for every edit
    // it holds. Returns false (and logs) when the cache cannot be edited.
    bool prepareForEditing();
    QSharedPointer<EditableAudioCache> editableCache() const { return m_pCache; }

    bool hasFreeformSelection() const { return m_bHasSelection; }
    int selectionStart() const { return m_iSelectionStart; }
    int selectionEnd() const { return m_iSelectionEnd; }
    // Sets the freeform selection (frame-aligned, inside the loop); equal ends clear it.
    void setFreeformSelection(int start, int end);

    const QList<AudioEditItem *> &items() const { return m_items; }
    // The visible items whose edits are selected, in list order.
    QList<AudioEditItem *> selectedItems() const;
    AudioEditItem *itemForEdit(const AudioEditPtr &edit) const;
    int hiddenEditCount() const { return m_pHiddenEdits->size(); }
    // Whether Unhide All has an edit to show.
    bool hasHiddenItems() const;
    // Whether Unhide Last has an edit to show: the one hidden last is still in the loop (a
    // region deleted over it takes it away until undone).
    bool canUnhideLast() const;
    bool hasClipboard() const;
    QUndoStack *undoStack() const { return m_pUndoStack; }

    // Makes an edit of a type over [start, end] (-1: the selection's end) and pushes it;
    // with no region and a group clicked, the edit goes into the group.
    void createEdit(int type, int destination = -1, int start = -1, int end = -1);
    // Removes [a, b) of the edited loop: slice points, edits and trim points follow.
    void deleteRegion(int a, int b);
    // True while a region deletion moves the slice points along with the audio: the points
    // change then without anyone slicing the loop another way.
    bool isMovingSlicePointsWithAudio() const { return m_bMovingSlicePoints; }
    // A frame-aligned sample near x: the loop's ends, a slice point or an item edge within
    // a few pixels, else x itself.
    int snapSample(int x) const;

signals:
    void freeformSelectionCreated();
    void freeformSelectionCleared();
    void itemSelected();
    void itemSelectionCleared();
    void copyPasted();
    void cutPasted();
    void selectionCopied();
    void editCopied();
    void editMessage(QString whatWasDone);

public slots:
    void selectNone();
    void selectAll();
    void addEditItem(AudioEditPtr pAudioEdit, int index);
    void removeEditItem(AudioEditPtr pAudioEdit);
    void lowerSelectedEdits();
    void raiseSelectedEdits();
    void slotNewGroup();
    void slotFadeOut();
    void slotFadeIn();
    void slotReverse();
    void slotDuplicate();
    void slotMute();
    void slotGain();
    void slotNormalize();
    void slotDelete();
    void slotTrimToSelection();
    void hideSelectedEdits();
    void slotCut();
    void slotCopy();
    void slotPaste();
    void unhideLast();
    void unhideAll();
    void scrollViewToMouse();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintView(QPainter *painter) override;

private:
    // The gestures of the mouse (SampleRendererEditorDrag.h).
    class Drag;
    class SelectionDrag;
    class ItemDrag;
    class ItemOwnDrag;

    void connectCache();
    void disconnectCache();
    void clearItems();
    void rebuildItems();
    void syncItemOrder();
    void followEditOrder();
    void updateItemGeometry();
    void updateEditActions();
    // After an undo or redo: tells the main window whether edits are selected now.
    void announceItemSelection();
    // True when the cache is free for a region delete (not held by a fill in progress).
    bool cacheIsFree() const;
    void clearItemSelection(bool emitSignal);
    void clearFreeformSelection(bool emitSignal);
    void selectItem(AudioEditItem *item);
    AudioEditItem *groupUnderClick() const;
    QUndoCommand *pasteEdit(const AudioEditPtr &edit, int newStart);
    void pushCommands(const QList<QUndoCommand *> &commands);
    // Adds the edits in one undo step named after the first.
    void pushAddedEdits(const QList<AudioEditPtr> &edits);
    void cutSelectedEdits();
    void handleLeftPress(const QPoint &pos, Qt::KeyboardModifiers modifiers);
    void handleRightPress(const QPoint &pos);
    void handleMove(const QPoint &pos, Qt::MouseButtons buttons);
    // End the drag in progress, if any: finish keeps what it did as one undo step, abort
    // puts it back.
    void finishDrag();
    void abortDrag();
    void updateAutoScroll(const QPoint &pos);
    // The sample under x in the current window, not limited to the widget (drags may leave
    // it), clamped to the loop and frame-aligned.
    int sampleAtX(double x) const;
    // Samples per pixel, never 0 at the deepest zoom.
    double samplesPerPixelSafe() const;
    int editedLength() const;

    Trevant *m_pSlicer;
    QUndoStack *m_pUndoStack;
    QSharedPointer<EditableAudioCache> m_pCache;

    int m_iSelectionStart = 0;
    int m_iSelectionEnd = 0;
    bool m_bHasSelection = false;
    bool m_bMovingSlicePoints = false;

    QList<AudioEditItem *> m_items;
    QPointer<AudioEditItem> m_pClickedItem;

    EditCommands::CopiedRegion m_regionClipboard;
    // Copied edits are kept as edits, not items: an item goes when its edit is removed.
    QVector<AudioEditPtr> m_editClipboard;
    QVector<AudioEditPtr> m_cutEditClipboard;
    QSharedPointer<QVector<AudioEditPtr>> m_pHiddenEdits;

    QMenu *m_pContextMenu = nullptr;
    QList<QAction *> m_editActions;
    QAction *m_pActionNewGroup = nullptr;
    QTimer m_autoScrollTimer;

    std::unique_ptr<Drag> m_drag;
    QPoint m_pressPosition;
    int m_iPressSample = 0;
    QPoint m_lastMousePosition;
    Qt::MouseButtons m_dragButtons = Qt::NoButton;
};
