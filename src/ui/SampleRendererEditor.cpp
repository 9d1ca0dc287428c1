#include "SampleRendererEditor.h"

#include "AddEditCommand.h"
#include "AddEditToGroupCommand.h"
#include "AdjustEditEndPointCommand.h"
#include "AdjustEditStartPointCommand.h"
#include "AudioEditFactory.h"
#include "AudioEditGroup.h"
#include "AudioEditItem.h"
#include "AudioEditItemFactory.h"
#include "EditCommands.h"
#include "EditableAudioCache.h"
#include "MultipleEditCommand.h"
#include "RemoveEditCommand.h"
#include "SetEditVisibilityCommand.h"
#include "Slice.h"
#include "TranslateEditCommand.h"
#include "Trevant.h"
#include "UnhideLastCommand.h"

#include <QAction>
#include <QDebug>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QUndoStack>

#include <algorithm>
#include <cmath>
#include <limits>

// The item artwork lives in a resource collection of its own, compiled into a static
// library: it is registered here, so that every program that shows this view has it.
static void registerEditViewResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(editview);
        return true;
    }();
    Q_UNUSED(registered);
}

SampleRendererEditor::SampleRendererEditor(QWidget *parent, Trevant *slicer, QUndoStack *undoStack,
                                           const QList<QAction *> &editActions)
    : SampleRenderer(parent, slicer ? slicer->currentSlice() : QSharedPointer<Slice>()), m_pSlicer(slicer),
      m_pUndoStack(undoStack), m_pHiddenEdits(new QVector<AudioEditPtr>) {
    registerEditViewResources();
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);

    struct Entry {
        const char *text;
        void (SampleRendererEditor::*slot)();
    };
    const Entry entries[] = {{QT_TR_NOOP("Fade In"), &SampleRendererEditor::slotFadeIn},
                             {QT_TR_NOOP("Fade Out"), &SampleRendererEditor::slotFadeOut},
                             {QT_TR_NOOP("Reverse"), &SampleRendererEditor::slotReverse},
                             {QT_TR_NOOP("Duplicate"), &SampleRendererEditor::slotDuplicate},
                             {QT_TR_NOOP("Gain"), &SampleRendererEditor::slotGain},
                             {QT_TR_NOOP("Normalize"), &SampleRendererEditor::slotNormalize},
                             {QT_TR_NOOP("Mute"), &SampleRendererEditor::slotMute},
                             {QT_TR_NOOP("Trim to Selection"), &SampleRendererEditor::slotTrimToSelection}};
    m_pContextMenu = new QMenu(this);
    for (const Entry &entry : entries) {
        auto *action = new QAction(tr(entry.text), this);
        action->setEnabled(false);
        connect(action, &QAction::triggered, this, entry.slot);
        m_editActions.append(action);
        m_pContextMenu->addAction(action);
    }
    m_pContextMenu->addSeparator();
    for (QAction *action : editActions)
        if (action)
            m_pContextMenu->addAction(action);
    // A group picked with the right button stays the target of the menu's actions; it is
    // let go once they have run.
    connect(m_pContextMenu, &QMenu::aboutToHide, this, [this]() {
        QTimer::singleShot(0, this, [this]() {
            if (m_dragMode == DragNone)
                m_pClickedItem = nullptr;
            updateEditActions();
        });
    });

    m_pActionNewGroup = new QAction(tr("New Group"), this);
    m_pActionNewGroup->setEnabled(false);
    connect(m_pActionNewGroup, &QAction::triggered, this, &SampleRendererEditor::slotNewGroup);

    m_autoScrollTimer.setInterval(30);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &SampleRendererEditor::scrollViewToMouse);

    if (m_pSlicer)
        connect(m_pSlicer, &Trevant::slicePointsChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update));
    // Undo and redo select and deselect edits (a hide undone selects its edit again).
    if (m_pUndoStack)
        connect(m_pUndoStack, &QUndoStack::indexChanged, this, &SampleRendererEditor::announceItemSelection);

    if (m_pSlice && m_pSlice->cache().objectCast<EditableAudioCache>())
        prepareForEditing();
}

SampleRendererEditor::~SampleRendererEditor() {
    disconnectCache();
    const QList<AudioEditItem *> items = m_items;
    m_items.clear();
    qDeleteAll(items);
}

QList<QAction *> SampleRendererEditor::effectActions() const {
    QList<QAction *> actions = m_editActions;
    actions.append(m_pActionNewGroup);
    return actions;
}

// --- Loop and cache -----------------------------------------------------------------

void SampleRendererEditor::setSlice(QSharedPointer<Slice> loop) {
    const bool sameCache = loop && m_pCache && loop->cache().data() == m_pCache.data();
    if (!sameCache) {
        disconnectCache();
        clearItems();
        m_bHasSelection = false;
        m_iSelectionStart = m_iSelectionEnd = 0;
        m_iRegionClipboardStart = m_iRegionClipboardEnd = 0;
        m_editClipboard.clear();
        m_cutEditClipboard.clear();
        // Commands of an older loop may still hold the old stack; this loop gets its own.
        m_pHiddenEdits.reset(new QVector<AudioEditPtr>);
    }
    m_dragMode = DragNone;
    m_pClickedItem = nullptr;
    SampleRenderer::setSlice(loop);
    if (loop && !sameCache && loop->cache().objectCast<EditableAudioCache>())
        prepareForEditing();
    updateEditActions();
}

bool SampleRendererEditor::prepareForEditing() {
    QSharedPointer<Slice> loop = m_pSlicer ? m_pSlicer->currentSlice() : m_pSlice;
    if (!loop)
        return false;
    if (loop != m_pSlice)
        setSlice(loop);
    const QSharedPointer<EditableAudioCache> cache = loop->cache().objectCast<EditableAudioCache>();
    if (!cache) {
        qDebug() << "AudioCache is not an EditableAudioCache!";
        return false;
    }
    if (cache != m_pCache) {
        disconnectCache();
        m_pCache = cache;
        connectCache();
        rebuildItems();
        qDebug() << "Successfully connected signals in SampleRendererEditor.";
    }
    setWaveformDirtyAndRepaint();
    return true;
}

void SampleRendererEditor::connectCache() {
    if (!m_pCache)
        return;
    connect(m_pCache.data(), &EditableAudioCache::editAdded, this, &SampleRendererEditor::addEditItem);
    connect(m_pCache.data(), &EditableAudioCache::editRemoved, this, &SampleRendererEditor::removeEditItem);
    connect(m_pCache.data(), &EditableAudioCache::cacheUpdateProgress, this,
            &SampleRenderer::setWaveformDirtyAndRepaint);
}

void SampleRendererEditor::disconnectCache() {
    if (m_pCache) {
        disconnect(m_pCache.data(), &EditableAudioCache::editAdded, this, &SampleRendererEditor::addEditItem);
        disconnect(m_pCache.data(), &EditableAudioCache::editRemoved, this,
                   &SampleRendererEditor::removeEditItem);
        disconnect(m_pCache.data(), &EditableAudioCache::cacheUpdateProgress, this,
                   &SampleRenderer::setWaveformDirtyAndRepaint);
    }
    m_pCache.reset();
}

int SampleRendererEditor::editedLength() const {
    return m_pCache ? m_pCache->length() : loopLength();
}

// --- Items --------------------------------------------------------------------------

void SampleRendererEditor::clearItems() {
    m_pClickedItem = nullptr;
    const QList<AudioEditItem *> items = m_items;
    m_items.clear();
    // Later: this may run while an item's own press or release is on the stack.
    for (AudioEditItem *item : items)
        item->deleteLater();
}

void SampleRendererEditor::rebuildItems() {
    clearItems();
    if (!m_pCache)
        return;
    for (const AudioEditPtr &edit : m_pCache->edits())
        m_items.append(AudioEditItemFactory::createItem(edit, this));
    update();
}

void SampleRendererEditor::syncItemOrder() {
    if (!m_pCache)
        return;
    // The cache orders its list (a Delete or Mute sorts the whole list by start); the
    // items follow that order, which is also the order they are drawn and hit in.
    QList<AudioEditItem *> ordered;
    QList<AudioEditItem *> left = m_items;
    for (const AudioEditPtr &edit : m_pCache->edits()) {
        AudioEditItem *found = nullptr;
        for (AudioEditItem *item : left) {
            if (item->edit() == edit) {
                found = item;
                break;
            }
        }
        if (found)
            left.removeOne(found);
        else
            found = AudioEditItemFactory::createItem(edit, this);
        ordered.append(found);
    }
    for (AudioEditItem *stale : left) {
        if (m_pClickedItem == stale)
            m_pClickedItem = nullptr;
        stale->deleteLater();
    }
    m_items = ordered;
}

AudioEditItem *SampleRendererEditor::itemForEdit(const AudioEditPtr &edit) const {
    for (AudioEditItem *item : m_items)
        if (item->edit() == edit)
            return item;
    return nullptr;
}

void SampleRendererEditor::addEditItem(AudioEditPtr pAudioEdit, int index) {
    if (!pAudioEdit || itemForEdit(pAudioEdit))
        return;
    AudioEditItem *item = AudioEditItemFactory::createItem(pAudioEdit, this);
    m_items.insert(std::clamp(index, 0, int(m_items.size())), item);
    syncItemOrder();
    if (pAudioEdit->showsItem() && pAudioEdit->isSelected()) {
        // A new edit becomes the one selection.
        clearItemSelection(false);
        item->setSelected(true);
        emit itemSelected();
    }
    setWaveformDirtyAndRepaint();
}

void SampleRendererEditor::removeEditItem(AudioEditPtr pAudioEdit) {
    AudioEditItem *item = itemForEdit(pAudioEdit);
    if (!item)
        return;
    const bool wasSelected = item->isSelected() && !item->isHidden();
    m_items.removeOne(item);
    if (m_pClickedItem == item) {
        m_pClickedItem = nullptr;
        if (m_dragMode != DragFreeform && m_dragMode != DragSelectionStart && m_dragMode != DragSelectionEnd)
            m_dragMode = DragNone;
    }
    // Later: removal may come from an undo run inside one of this view's handlers.
    item->deleteLater();
    if (wasSelected && selectedItems().isEmpty())
        emit itemSelectionCleared();
    setWaveformDirtyAndRepaint();
}

QList<AudioEditItem *> SampleRendererEditor::selectedItems() const {
    QList<AudioEditItem *> selected;
    for (AudioEditItem *item : m_items)
        if (!item->isHidden() && item->isSelected())
            selected.append(item);
    return selected;
}

void SampleRendererEditor::updateItemGeometry() {
    for (AudioEditItem *item : qAsConst(m_items))
        item->updateGeometry();
}

AudioEditItem *SampleRendererEditor::groupUnderClick() const {
    if (m_pClickedItem && !m_pClickedItem->isHidden() && m_pClickedItem->edit() &&
        m_pClickedItem->edit()->type() == TypeGroup)
        return m_pClickedItem.data();
    return nullptr;
}

bool SampleRendererEditor::hasClipboard() const {
    return m_iRegionClipboardStart != m_iRegionClipboardEnd || !m_editClipboard.isEmpty() ||
           !m_cutEditClipboard.isEmpty();
}

// --- Selection ----------------------------------------------------------------------

void SampleRendererEditor::updateEditActions() {
    // A group under the right button takes new edits as members, selection or not. The
    // Effects menu stays in the menu bar in slicing mode, where this view is hidden and its
    // selection cannot be seen: the actions are off there.
    const bool enabled = m_pCache && isVisible() && (m_bHasSelection || groupUnderClick());
    for (QAction *action : qAsConst(m_editActions))
        action->setEnabled(enabled);
    m_pActionNewGroup->setEnabled(m_pCache && isVisible() && m_bHasSelection);
}

void SampleRendererEditor::announceItemSelection() {
    // Not in slicing mode, where the main window keeps the edit actions off. A freeform
    // selection keeps cut, copy and delete on, so no "cleared" then either.
    if (!isVisible() || !m_pCache)
        return;
    if (!selectedItems().isEmpty())
        emit itemSelected();
    else if (!m_bHasSelection)
        emit itemSelectionCleared();
    update();
}

void SampleRendererEditor::showEvent(QShowEvent *event) {
    SampleRenderer::showEvent(event);
    updateEditActions();
}

void SampleRendererEditor::hideEvent(QHideEvent *event) {
    SampleRenderer::hideEvent(event);
    m_autoScrollTimer.stop();
    m_dragMode = DragNone;
    updateEditActions();
}

bool SampleRendererEditor::cacheIsFree() const {
    if (!m_pCache || !m_pCache->tryLock())
        return false;
    m_pCache->unlock();
    return true;
}

void SampleRendererEditor::setFreeformSelection(int start, int end) {
    const int length = editedLength();
    start = std::clamp(start, 0, std::max(0, length)) & ~1;
    end = std::clamp(end, 0, std::max(0, length)) & ~1;
    const bool had = m_bHasSelection;
    m_iSelectionStart = std::min(start, end);
    m_iSelectionEnd = std::max(start, end);
    m_bHasSelection = m_iSelectionStart != m_iSelectionEnd;
    if (!m_bHasSelection)
        m_iSelectionStart = m_iSelectionEnd = 0;
    if (m_bHasSelection && !had)
        emit freeformSelectionCreated();
    else if (!m_bHasSelection && had)
        emit freeformSelectionCleared();
    updateEditActions();
    update();
}

void SampleRendererEditor::clearFreeformSelection(bool emitSignal) {
    m_bHasSelection = false;
    m_iSelectionStart = m_iSelectionEnd = 0;
    if (emitSignal)
        emit freeformSelectionCleared();
    updateEditActions();
    update();
}

void SampleRendererEditor::clearItemSelection(bool emitSignal) {
    for (AudioEditItem *item : qAsConst(m_items))
        item->setSelected(false);
    if (emitSignal)
        emit itemSelectionCleared();
    update();
}

void SampleRendererEditor::selectItem(AudioEditItem *item) {
    if (!item)
        return;
    item->setSelected(true);
    emit itemSelected();
    update();
}

void SampleRendererEditor::selectNone() {
    clearItemSelection(true);
    clearFreeformSelection(true);
}

void SampleRendererEditor::selectAll() {
    bool anyItem = false;
    for (AudioEditItem *item : qAsConst(m_items)) {
        if (!item->isHidden()) {
            item->setSelected(true);
            anyItem = true;
        }
    }
    if (anyItem) {
        emit itemSelected();
    } else if (m_pSlice) {
        setFreeformSelection(0, editedLength());
    }
    update();
}

// --- Making edits -------------------------------------------------------------------

void SampleRendererEditor::createEdit(int type, int destination, int start, int end) {
    if (!m_pCache || !m_pUndoStack)
        return;
    int selectionStart = m_iSelectionStart;
    int selectionEnd = m_iSelectionEnd;
    if (selectionEnd < selectionStart) {
        qDebug() << "Warning: Reversed selection detected and caught. (end < start)";
        std::swap(selectionStart, selectionEnd);
    }
    if (start == -1)
        start = selectionStart;
    if (end == -1)
        end = selectionEnd;
    const int length = editedLength();
    start = std::clamp(std::min(start, end), 0, length) & ~1;
    end = std::clamp(std::max(start, end), 0, length) & ~1;

    if (start == end) {
        // No region: an edit over nothing is useless, except as a new member of the group
        // the user picked, over the group's own range.
        if (AudioEditItem *groupItem = groupUnderClick()) {
            auto group = groupItem->edit().objectCast<AudioEditGroup>();
            qDebug() << "Adding edit to group";
            const AudioEditPtr edit = AudioEditFactory::createEdit(
                type, group->startSample(), group->startSample(), group->endSample(), m_pCache);
            if (edit)
                m_pUndoStack->push(new AddEditToGroupCommand(m_pCache, edit, group));
        }
    } else {
        const AudioEditPtr edit =
            AudioEditFactory::createEdit(type, destination == -1 ? start : destination, start, end, m_pCache);
        if (edit)
            m_pUndoStack->push(new AddEditCommand(m_pCache, edit));
    }
    clearFreeformSelection(true);
}

void SampleRendererEditor::slotFadeIn() {
    createEdit(TypeFadeIn);
}
void SampleRendererEditor::slotFadeOut() {
    createEdit(TypeFadeOut);
}
void SampleRendererEditor::slotMute() {
    createEdit(TypeMute);
}
void SampleRendererEditor::slotReverse() {
    createEdit(TypeReverse);
}
void SampleRendererEditor::slotDuplicate() {
    createEdit(TypeDuplicate);
}
void SampleRendererEditor::slotGain() {
    createEdit(TypeGain);
}
void SampleRendererEditor::slotNormalize() {
    createEdit(TypeNormalize);
}

void SampleRendererEditor::slotNewGroup() {
    if (!m_pCache || !m_pUndoStack || !m_bHasSelection)
        return;
    const AudioEditPtr group =
        AudioEditFactory::createEdit(TypeGroup, -1, m_iSelectionStart, m_iSelectionEnd, m_pCache);
    if (group)
        m_pUndoStack->push(new AddEditCommand(m_pCache, group));
    clearFreeformSelection(true);
}

void SampleRendererEditor::pushCommands(const QList<QUndoCommand *> &commands) {
    if (commands.isEmpty() || !m_pUndoStack)
        return;
    if (commands.size() == 1)
        m_pUndoStack->push(commands.first());
    else
        m_pUndoStack->push(new MultipleEditCommand(commands));
}

// --- Deleting and trimming ----------------------------------------------------------

void SampleRendererEditor::slotDelete() {
    if (!m_pCache || !m_pUndoStack)
        return;
    if (m_bHasSelection) {
        if (!cacheIsFree())
            return;
        m_pUndoStack->beginMacro(tr("delete region"));
        deleteRegion(m_iSelectionStart, m_iSelectionEnd);
        m_pUndoStack->endMacro();
        return;
    }
    const QList<AudioEditItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QList<AudioEditPtr> edits;
    for (AudioEditItem *item : selected)
        edits.append(item->edit());
    if (edits.size() > 1)
        m_pUndoStack->beginMacro(tr("remove edits"));
    for (const AudioEditPtr &edit : qAsConst(edits))
        m_pUndoStack->push(new RemoveEditCommand(m_pCache, edit));
    if (edits.size() > 1)
        m_pUndoStack->endMacro();
    clearItemSelection(true);
}

void SampleRendererEditor::slotTrimToSelection() {
    if (!m_pCache || !m_pUndoStack || !m_bHasSelection || !cacheIsFree())
        return;
    const int a = m_iSelectionStart;
    const int b = m_iSelectionEnd;
    m_pUndoStack->beginMacro(tr("trim to selection"));
    // The end goes first, so that a and b still mean the same samples.
    const int length = editedLength();
    if (b < length) {
        qDebug() << "deleting end region:" << b << length;
        deleteRegion(b, length);
    }
    if (a > 0) {
        qDebug() << "deleting start region:" << 0 << a;
        deleteRegion(0, a);
    }
    m_pUndoStack->endMacro();
}

void SampleRendererEditor::deleteRegion(int a, int b) {
    if (!m_pCache || !m_pUndoStack || !m_pSlicer)
        return;
    // Only while nobody holds the cache (the loop may still be being read). The lock is
    // not kept while the commands run: they take the slicer and loop locks, which the
    // sound-card thread takes before the cache's; holding the cache here would deadlock.
    if (!cacheIsFree())
        return;
    const QList<QUndoCommand *> commands = EditCommands::deleteRegion(m_pSlicer, m_pCache, a, b);
    if (commands.isEmpty())
        return;
    for (QUndoCommand *command : commands)
        m_pUndoStack->push(command);
    clearFreeformSelection(true);
    m_pCache->markSamplesAsDirty(0, m_pCache->length());
}

// --- Clipboard ----------------------------------------------------------------------

void SampleRendererEditor::slotCopy() {
    if (!m_bHasSelection) {
        const QList<AudioEditItem *> selected = selectedItems();
        if (selected.isEmpty())
            return;
        m_editClipboard.clear();
        for (AudioEditItem *item : selected)
            m_editClipboard.append(item->edit());
        m_iRegionClipboardStart = m_iRegionClipboardEnd = 0;
        m_cutEditClipboard.clear();
        emit editCopied();
        emit editMessage(selected.size() > 1 ? tr("Edits copied.") : tr("Edit copied."));
        return;
    }
    m_iRegionClipboardStart = m_iSelectionStart;
    m_iRegionClipboardEnd = m_iSelectionEnd;
    m_editClipboard.clear();
    m_cutEditClipboard.clear();
    emit selectionCopied();
    emit editMessage(tr("Selection copied."));
}

void SampleRendererEditor::slotCut() {
    if (!m_pCache || !m_pUndoStack)
        return;
    if (!m_bHasSelection) {
        if (selectedItems().isEmpty())
            return;
        m_editClipboard.clear();
        m_iRegionClipboardStart = m_iRegionClipboardEnd = 0;
        cutSelectedEdits();
        return;
    }
    m_editClipboard.clear();
    m_cutEditClipboard.clear();
    m_iRegionClipboardStart = m_iSelectionStart;
    m_iRegionClipboardEnd = m_iSelectionEnd;
    // The region goes silent in place; a paste lays its original audio elsewhere.
    createEdit(TypeHiddenMute);
    emit selectionCopied();
    emit editMessage(tr("Selection cut."));
}

void SampleRendererEditor::cutSelectedEdits() {
    const QList<AudioEditItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    m_pUndoStack->beginMacro(selected.size() > 1 ? tr("cut edits") : tr("cut edit"));
    m_cutEditClipboard.clear();
    QList<AudioEditPtr> edits;
    for (int k = selected.size() - 1; k >= 0; --k)
        edits.append(selected.at(k)->edit());
    for (const AudioEditPtr &edit : qAsConst(edits)) {
        edit->setSelected(false);
        m_cutEditClipboard.append(edit);
        m_pUndoStack->push(new RemoveEditCommand(m_pCache, edit));
    }
    m_pUndoStack->endMacro();
    emit itemSelectionCleared();
    // What was cut can be pasted: the paste action must know.
    emit editCopied();
}

// A group's own clone shares its members, so moving a pasted group would move the members
// of the group it was copied from; a paste gets members of its own.
static AudioEditPtr cloneForPaste(const AudioEditPtr &edit) {
    const AudioEditPtr clone = edit->clone();
    if (auto group = clone.objectCast<AudioEditGroup>()) {
        const QVector<AudioEditPtr> members = group->members();
        for (const AudioEditPtr &member : members)
            group->removeEdit(member);
        // Added from the last to the first: each is put at the front, as the original was.
        for (int k = members.size() - 1; k >= 0; --k)
            group->addEdit(cloneForPaste(members.at(k)));
    }
    return clone;
}

QUndoCommand *SampleRendererEditor::pasteEdit(const AudioEditPtr &edit, int newStart) {
    if (!edit || !m_pCache)
        return nullptr;
    if (!m_bHasSelection) {
        if (AudioEditItem *groupItem = groupUnderClick()) {
            auto group = groupItem->edit().objectCast<AudioEditGroup>();
            if (group && group != edit) {
                qDebug() << "Adding edit to group";
                const AudioEditPtr clone = cloneForPaste(edit);
                clone->setRange(group->startSample(), group->endSample());
                return new AddEditToGroupCommand(m_pCache, clone, group);
            }
        }
    }
    const AudioEditPtr clone = cloneForPaste(edit);
    const qint64 length = clone->length();
    const qint64 cacheLength = editedLength();
    const qint64 start = std::max<qint64>(0, std::min<qint64>(cacheLength - length, newStart)) & ~qint64(1);
    const qint64 end = std::min<qint64>(cacheLength, start + length);
    clone->setRange(int(start), int(end));
    clone->setHidden(false);
    return new AddEditCommand(m_pCache, clone);
}

void SampleRendererEditor::slotPaste() {
    if (!m_pCache || !m_pUndoStack || !hasClipboard())
        return;
    const int p = sampleAtX(m_lastMousePosition.x());
    m_pUndoStack->beginMacro(tr("paste"));
    if (m_iRegionClipboardStart != m_iRegionClipboardEnd) {
        createEdit(TypeDuplicate, p, m_iRegionClipboardStart, m_iRegionClipboardEnd);
        emit editMessage(tr("Selection pasted."));
        m_pUndoStack->endMacro();
        emit copyPasted();
        return;
    }
    const bool fromCut = !m_cutEditClipboard.isEmpty();
    const QVector<AudioEditPtr> edits = fromCut ? m_cutEditClipboard : m_editClipboard;
    int m = edits.first()->startSample();
    for (const AudioEditPtr &edit : edits)
        m = std::min(m, edit->startSample());
    QList<QUndoCommand *> commands;
    for (const AudioEditPtr &edit : edits)
        if (QUndoCommand *command = pasteEdit(edit, edit->startSample() + (p - m)))
            commands.append(command);
    pushCommands(commands);
    m_pUndoStack->endMacro();
    if (fromCut) {
        m_cutEditClipboard.clear();
        emit cutPasted();
    } else {
        emit copyPasted();
    }
}

// --- Hiding, order ------------------------------------------------------------------

void SampleRendererEditor::hideSelectedEdits() {
    const QList<AudioEditItem *> selected = selectedItems();
    qDebug() << "Hiding " << selected.size() << "selected items";
    if (selected.isEmpty() || !m_pUndoStack)
        return;
    QList<QUndoCommand *> commands;
    for (AudioEditItem *item : selected) {
        commands.append(new SetEditVisibilityCommand(item->edit(), false));
        m_pHiddenEdits->append(item->edit());
    }
    pushCommands(commands);
    emit itemSelectionCleared();
    update();
}

void SampleRendererEditor::unhideAll() {
    QList<QUndoCommand *> commands;
    for (AudioEditItem *item : qAsConst(m_items)) {
        const AudioEditPtr edit = item->edit();
        if (edit && edit->showsItem() && edit->isHidden())
            commands.append(new SetEditVisibilityCommand(edit, true));
    }
    qDebug() << "Unhiding" << commands.size() << "items";
    if (commands.isEmpty() || !m_pUndoStack)
        return;
    m_pUndoStack->push(new MultipleEditCommand(commands));
    update();
}

void SampleRendererEditor::unhideLast() {
    if (m_pHiddenEdits->isEmpty() || !m_pUndoStack)
        return;
    m_pUndoStack->push(new UnhideLastCommand(m_pHiddenEdits));
    if (!selectedItems().isEmpty())
        emit itemSelected();
    update();
}

void SampleRendererEditor::raiseSelectedEdits() {
    if (!m_pCache)
        return;
    const QList<AudioEditItem *> selected = selectedItems();
    // From the end, so that neighbouring selected edits keep their order among themselves.
    for (int k = selected.size() - 1; k >= 0; --k)
        m_pCache->raiseEdit(selected.at(k)->edit());
    syncItemOrder();
    update();
}

void SampleRendererEditor::lowerSelectedEdits() {
    if (!m_pCache)
        return;
    const QList<AudioEditItem *> selected = selectedItems();
    for (AudioEditItem *item : selected)
        m_pCache->lowerEdit(item->edit());
    syncItemOrder();
    update();
}

// --- Coordinates and snapping -------------------------------------------------------

double SampleRendererEditor::samplesPerPixelSafe() const {
    const double spp = samplesPerPixel();
    return spp > 0.0 ? spp : 1.0;
}

int SampleRendererEditor::sampleAtX(double x) const {
    const int length = editedLength();
    if (!m_pSlice || width() <= 0)
        return 0;
    const double span = double(iViewEndSampleIdx) - iViewStartSampleIdx;
    const double sample = iViewStartSampleIdx + std::floor(x / width() * span);
    return int(std::clamp(sample, 0.0, double(std::max(0, length)))) & ~1;
}

int SampleRendererEditor::snapSample(int x) const {
    const int length = std::max(0, editedLength());
    if (!m_pSlice || width() <= 0)
        return std::clamp(x, 0, length) & ~1;
    const double px = sampleToPixel(x);
    if (std::abs(px - sampleToPixel(0)) <= kSnapPixels)
        return 0;
    if (std::abs(px - sampleToPixel(length)) <= kSnapPixels)
        return length & ~1;
    const int even = std::clamp(x, 0, length) & ~1;
    if (m_pSlicer) {
        for (int point : m_pSlicer->slicePoints()) {
            if (point >= iViewStartSampleIdx && point <= iViewEndSampleIdx &&
                std::abs(sampleToPixel(point) - px) <= kSnapPixels)
                return std::clamp(point, 0, length) & ~1;
        }
    }
    for (AudioEditItem *item : m_items) {
        if (item == m_pClickedItem || item->isHidden())
            continue;
        for (int edge : {item->edit()->startSample(), item->edit()->endSample()}) {
            if (std::abs(sampleToPixel(edge) - px) <= kSnapPixels)
                return std::clamp(edge, 0, length) & ~1;
        }
    }
    return even;
}

// --- Mouse and keyboard -------------------------------------------------------------

void SampleRendererEditor::mousePressEvent(QMouseEvent *event) {
    setFocus(Qt::MouseFocusReason);
    m_lastMousePosition = event->pos();
    event->accept();
    if (!m_pSlice)
        return;
    updateItemGeometry();
    if (event->button() == Qt::LeftButton)
        handleLeftPress(event->pos(), event->modifiers());
    else if (event->button() == Qt::RightButton)
        handleRightPress(event->pos());
}

void SampleRendererEditor::handleLeftPress(const QPoint &pos, Qt::KeyboardModifiers modifiers) {
    m_dragMode = DragNone;
    m_pClickedItem = nullptr;
    m_dragButtons = Qt::LeftButton;
    m_pressPosition = pos;
    m_iPressSample = sampleAtX(pos.x());

    if (m_bHasSelection) {
        if (std::abs(pos.x() - sampleToPixel(m_iSelectionStart)) <= kSelectionEdgePixels)
            m_dragMode = DragSelectionStart;
        else if (std::abs(pos.x() - sampleToPixel(m_iSelectionEnd)) <= kSelectionEdgePixels)
            m_dragMode = DragSelectionEnd;
        m_iPressSelectionStart = m_iSelectionStart;
        m_iPressSelectionEnd = m_iSelectionEnd;
    }

    const bool additive = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    if (m_dragMode == DragNone) {
        AudioEditItem *hit = nullptr;
        DragMode hitMode = DragNone;
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            if (item->isNearLeftEdge(pos, kItemEdgePixels))
                hitMode = DragStartHandle;
            else if (item->isNearRightEdge(pos, kItemEdgePixels))
                hitMode = DragEndHandle;
            else if (!item->contains(pos))
                continue;
            hit = item;
            break;
        }
        if (hit) {
            if (!additive && !hit->isSelected())
                clearItemSelection(false);
            selectItem(hit);
            m_pClickedItem = hit;
            if (hitMode == DragNone && hit->mousePress(pos, Qt::LeftButton, modifiers)) {
                m_dragMode = DragItem;
                update();
                return;
            }
            m_dragMode = hitMode;
        }
    }

    if (m_pClickedItem || m_dragMode == DragStartHandle || m_dragMode == DragEndHandle) {
        for (AudioEditItem *item : qAsConst(m_items))
            item->rememberRange();
        clearFreeformSelection(true);
        emit itemSelected();
    } else if (m_dragMode != DragSelectionStart && m_dragMode != DragSelectionEnd) {
        clearFreeformSelection(true);
        clearItemSelection(true);
        m_iPressSample = snapSample(m_iPressSample);
    }
    update();
}

void SampleRendererEditor::handleRightPress(const QPoint &pos) {
    m_dragMode = DragNone;
    AudioEditItem *last = nullptr;
    const QList<AudioEditItem *> items = m_items;
    for (AudioEditItem *item : items) {
        if (item->isHidden() || !item->contains(pos))
            continue;
        item->mousePress(pos, Qt::RightButton, Qt::NoModifier);
        last = item;
    }
    m_pClickedItem = last;
    if (last && !last->isSelected()) {
        clearItemSelection(false);
        selectItem(last);
    }
    if (!last && !m_bHasSelection && m_pSlice) {
        // The gap between the neighbouring edits and slice points around the mouse.
        const int m = sampleAtX(pos.x());
        int low = 0;
        int high = editedLength();
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            const int start = item->edit()->startSample();
            const int end = item->edit()->endSample();
            if (end < m)
                low = std::max(low, end);
            if (start > m)
                high = std::min(high, start);
        }
        if (m_pSlicer) {
            for (int point : m_pSlicer->slicePoints()) {
                if (point < m)
                    low = std::max(low, point);
                else if (point > m)
                    high = std::min(high, point);
            }
        }
        setFreeformSelection(low, high);
    }
    updateEditActions();
    m_pContextMenu->popup(mapToGlobal(pos));
}

void SampleRendererEditor::mouseMoveEvent(QMouseEvent *event) {
    event->accept();
    handleMove(event->pos(), event->buttons());
}

void SampleRendererEditor::handleMove(const QPoint &pos, Qt::MouseButtons buttons) {
    m_lastMousePosition = pos;
    if (!m_pSlice)
        return;
    updateItemGeometry();
    if (!(buttons & Qt::LeftButton) || m_dragButtons != Qt::LeftButton) {
        Qt::CursorShape shape = Qt::ArrowCursor;
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            if (item->isNearEdge(pos, kItemEdgePixels)) {
                shape = Qt::SizeHorCursor;
                break;
            }
            if (item->contains(pos)) {
                shape = item->cursorAt(pos);
                break;
            }
        }
        if (m_bHasSelection &&
            (std::abs(pos.x() - sampleToPixel(m_iSelectionStart)) <= kSelectionEdgePixels ||
             std::abs(pos.x() - sampleToPixel(m_iSelectionEnd)) <= kSelectionEdgePixels))
            shape = Qt::SizeHorCursor;
        setCursor(shape);
        return;
    }

    if (m_dragMode == DragNone) {
        if (m_pClickedItem) {
            if (std::abs(pos.x() - m_pressPosition.x()) < kDragStartPixels)
                return;
            m_dragMode = DragBody;
        } else {
            m_dragMode = DragFreeform;
        }
    }
    updateAutoScroll(pos);

    const int current = sampleAtX(pos.x());
    const int delta = current - m_iPressSample;
    switch (m_dragMode) {
    case DragSelectionStart:
        setFreeformSelection(snapSample(m_iPressSelectionStart + delta), m_iPressSelectionEnd);
        break;
    case DragSelectionEnd:
        setFreeformSelection(m_iPressSelectionStart, snapSample(m_iPressSelectionEnd + delta));
        break;
    case DragFreeform:
        setFreeformSelection(m_iPressSample, snapSample(current));
        break;
    case DragBody:
    case DragStartHandle:
    case DragEndHandle:
        dragItems(delta);
        break;
    case DragItem:
        if (m_pClickedItem)
            m_pClickedItem->mouseMove(pos, buttons);
        break;
    case DragNone:
        break;
    }
}

void SampleRendererEditor::dragItems(int delta) {
    if (!m_pCache || !m_pUndoStack)
        return;
    const qint64 length = editedLength();
    // At least 8 pixels wide, and never narrower than one stereo frame at the deepest zoom.
    const qint64 minimumWidth =
        std::max<qint64>(2, qint64(std::ceil(kItemEdgePixels * samplesPerPixelSafe())));
    const QList<AudioEditItem *> selected = selectedItems();
    qint64 bodyDelta = 0;
    if (m_dragMode == DragBody) {
        // One delta for all selected edits, so they move as a block: the clicked edit's
        // snapping decides it, and the loop's edges stop the whole block.
        bodyDelta = qint64(delta) & ~qint64(1);
        if (m_pClickedItem && m_pClickedItem->isSelected()) {
            const qint64 pressStart = m_pClickedItem->pressStart();
            const qint64 pressEnd = m_pClickedItem->pressEnd();
            const qint64 s = pressStart + bodyDelta;
            const qint64 e = pressEnd + bodyDelta;
            if (s >= 0 && s <= length && snapSample(int(s)) != s)
                bodyDelta = snapSample(int(s)) - pressStart;
            else if (e >= 0 && e <= length && snapSample(int(e)) != (e & ~qint64(1)))
                bodyDelta = snapSample(int(e)) - pressEnd;
        }
        qint64 lowest = std::numeric_limits<qint64>::min();
        qint64 highest = std::numeric_limits<qint64>::max();
        for (AudioEditItem *item : selected) {
            lowest = std::max<qint64>(lowest, -qint64(item->pressStart()));
            highest = std::min<qint64>(highest, length - item->pressEnd());
        }
        // An edit that no longer fits the (shortened) loop holds the block where it is.
        if (lowest > highest)
            return;
        bodyDelta = std::clamp(bodyDelta, lowest, highest);
    }
    QList<QUndoCommand *> commands;
    bool changed = false;
    for (AudioEditItem *item : selected) {
        const AudioEditPtr edit = item->edit();
        const bool clicked = item == m_pClickedItem;
        const qint64 pressStart = item->pressStart();
        const qint64 pressEnd = item->pressEnd();
        if (m_dragMode == DragBody) {
            const qint64 s = pressStart + bodyDelta;
            const qint64 e = pressEnd + bodyDelta;
            if (s != edit->startSample() || e != edit->endSample())
                changed = true;
            commands.append(
                new TranslateEditCommand(m_pCache, edit, int(s), int(e), int(pressStart), int(pressEnd)));
        } else if (m_dragMode == DragEndHandle) {
            qint64 e = pressEnd + delta;
            e = std::max(e, edit->startSample() + minimumWidth);
            if (clicked)
                e = snapSample(int(std::clamp<qint64>(e, 0, length)));
            e = std::min(e, length);
            e = std::min(e, qint64(edit->startSample()) + edit->maxLength());
            e = std::max(e, qint64(edit->startSample()) + 2) & ~qint64(1);
            if (e != edit->endSample())
                changed = true;
            commands.append(new AdjustEditEndPointCommand(m_pCache, edit, int(e), int(pressEnd)));
        } else if (m_dragMode == DragStartHandle) {
            qint64 s = pressStart + delta;
            s = std::min(s, edit->endSample() - minimumWidth);
            s = std::clamp<qint64>(s, 0, length);
            if (clicked)
                s = snapSample(int(s));
            s = std::max(s, qint64(edit->endSample()) - edit->maxLength());
            s = std::clamp<qint64>(std::min(s, qint64(edit->endSample()) - 2), 0, length) & ~qint64(1);
            if (s != edit->startSample())
                changed = true;
            commands.append(new AdjustEditStartPointCommand(m_pCache, edit, int(s), int(pressStart)));
        }
    }
    if (!changed) {
        qDeleteAll(commands);
        return;
    }
    pushCommands(commands);
    update();
}

void SampleRendererEditor::updateAutoScroll(const QPoint &pos) {
    const bool nearEdge = pos.x() < kScrollMarginPixels || pos.x() > width() - kScrollMarginPixels;
    if (nearEdge && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!nearEdge)
        m_autoScrollTimer.stop();
}

void SampleRendererEditor::scrollViewToMouse() {
    if (!m_pSlice || m_dragMode == DragNone || width() <= 0) {
        m_autoScrollTimer.stop();
        return;
    }
    const int x = m_lastMousePosition.x();
    const int length = loopLength();
    const double spp = samplesPerPixelSafe();
    int shift = 0;
    if (x > width() - kScrollMarginPixels)
        shift = std::max(2, int((x - (width() - kScrollMarginPixels)) * spp));
    else if (x < kScrollMarginPixels)
        shift = -std::max(2, int((kScrollMarginPixels - x) * spp));
    shift &= ~1;
    if (shift > 0)
        shift = std::min(shift, length - iViewEndSampleIdx);
    else if (shift < 0)
        shift = std::max(shift, -iViewStartSampleIdx);
    if (shift != 0) {
        iViewStartSampleIdx += shift;
        iViewEndSampleIdx += shift;
        setWaveformDirty(true);
        update();
        emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
    }
    // The drag in progress follows the view.
    handleMove(m_lastMousePosition, m_dragButtons);
}

void SampleRendererEditor::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    m_lastMousePosition = event->pos();
    if (event->button() != Qt::LeftButton)
        return;
    if (m_pClickedItem && m_dragMode != DragBody)
        m_pClickedItem->mouseRelease(event->pos(), event->button());
    m_dragMode = DragNone;
    m_dragButtons = Qt::NoButton;
    m_pClickedItem = nullptr;
    m_autoScrollTimer.stop();
    updateEditActions();
    update();
}

bool SampleRendererEditor::event(QEvent *event) {
    // The window's Escape shortcut would otherwise take the key first; while something
    // is selected here, Escape means "select nothing", as the user expects.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            (m_bHasSelection || !selectedItems().isEmpty())) {
            event->accept();
            return true;
        }
    }
    return SampleRenderer::event(event);
}

void SampleRendererEditor::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        selectNone();
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        slotDelete();
        event->accept();
        return;
    default:
        SampleRenderer::keyPressEvent(event);
    }
}

// --- Painting -----------------------------------------------------------------------

void SampleRendererEditor::paintView(QPainter *painter) {
    paintLayers(painter);
    if (!m_pSlice)
        return;
    updateItemGeometry();

    if (m_pSlicer) {
        painter->setPen(QColor(200, 0, 0));
        for (int point : m_pSlicer->slicePoints()) {
            if (point < iViewStartSampleIdx || point > iViewEndSampleIdx)
                continue;
            const int x = drawingX(point);
            painter->drawLine(x, 0, x, height());
        }
    }

    QList<AudioEditItem *> visible;
    for (AudioEditItem *item : qAsConst(m_items))
        if (!item->isHidden() && item->rect().right() >= 0 && item->rect().left() <= width())
            visible.append(item);
    // The first item is on top; an item never paints over one earlier in the list.
    QRegion covered;
    QVector<QRegion> above(visible.size());
    for (int k = 0; k < visible.size(); ++k) {
        above[k] = covered;
        covered += visible.at(k)->rect();
    }
    for (int k = visible.size() - 1; k >= 0; --k) {
        painter->save();
        painter->setClipRegion(QRegion(rect()) - above.at(k));
        painter->setOpacity(visible.at(k)->isSelected() ? 1.0 : 0.5);
        visible.at(k)->paint(painter);
        painter->restore();
    }

    if (m_bHasSelection) {
        const int left = drawingX(m_iSelectionStart);
        const int right = drawingX(m_iSelectionEnd);
        painter->fillRect(QRect(QPoint(left, 0), QPoint(std::max(left, right), height())),
                          QColor(255, 255, 255, 128));
    }
    drawPlayPosition(painter);
}
