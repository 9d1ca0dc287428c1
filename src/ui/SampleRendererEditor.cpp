#include "SampleRendererEditor.h"

#include "AudioEditItem.h"
#include "AudioEditItemFactory.h"
#include "EditableAudioCache.h"
#include "SampleRendererEditorDrag.h"
#include "Slice.h"
#include "Trevant.h"
#include "UiLogging.h"

#include <QAction>
#include <QMenu>
#include <QUndoStack>

#include <algorithm>

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
            if (!m_drag)
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
    // A drag does not outlive the edits it moves: on another loop's cache it is undone.
    if (sameCache)
        finishDrag();
    else
        abortDrag();
    if (!sameCache) {
        disconnectCache();
        clearItems();
        m_bHasSelection = false;
        m_iSelectionStart = m_iSelectionEnd = 0;
        m_regionClipboard = {};
        m_editClipboard.clear();
        m_cutEditClipboard.clear();
        // Commands of an older loop may still hold the old stack; this loop gets its own.
        m_pHiddenEdits.reset(new QVector<AudioEditPtr>);
    }
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
        qCDebug(lcUi) << "AudioCache is not an EditableAudioCache!";
        return false;
    }
    if (cache != m_pCache) {
        disconnectCache();
        m_pCache = cache;
        connectCache();
        rebuildItems();
        qCDebug(lcUi) << "Successfully connected signals in SampleRendererEditor.";
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
    connect(m_pCache.data(), &EditableAudioCache::editsReordered, this, &SampleRendererEditor::followEditOrder);
}

void SampleRendererEditor::disconnectCache() {
    if (m_pCache) {
        disconnect(m_pCache.data(), &EditableAudioCache::editAdded, this, &SampleRendererEditor::addEditItem);
        disconnect(m_pCache.data(), &EditableAudioCache::editRemoved, this,
                   &SampleRendererEditor::removeEditItem);
        disconnect(m_pCache.data(), &EditableAudioCache::cacheUpdateProgress, this,
                   &SampleRenderer::setWaveformDirtyAndRepaint);
        disconnect(m_pCache.data(), &EditableAudioCache::editsReordered, this,
                   &SampleRendererEditor::followEditOrder);
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

void SampleRendererEditor::followEditOrder() {
    syncItemOrder();
    update();
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
        // The edit under the mouse went (an undo): what a drag of it did so far goes back.
        if (m_drag && m_drag->followsClickedItem())
            abortDrag();
        m_pClickedItem = nullptr;
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
    return !m_regionClipboard.isEmpty() || !m_editClipboard.isEmpty() ||
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
    finishDrag();
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
