// The edit view's operations on the edit list: making edits over the selection, deleting
// and trimming regions, the clipboard, hiding and the processing order.
#include "SampleRendererEditor.h"

#include "AddEditCommand.h"
#include "AddEditToGroupCommand.h"
#include "AudioEditFactory.h"
#include "AudioEditGroup.h"
#include "AudioEditItem.h"
#include "EditCommands.h"
#include "EditableAudioCache.h"
#include "Invariant.h"
#include "MultipleEditCommand.h"
#include "RemoveEditCommand.h"
#include "SetEditVisibilityCommand.h"
#include "UiLogging.h"
#include "UnhideLastCommand.h"

#include <QScopedValueRollback>
#include <QUndoStack>

#include <algorithm>

// --- Making edits -------------------------------------------------------------------

void SampleRendererEditor::createEdit(int type, int destination, int start, int end) {
    if (!m_pCache || !m_pUndoStack)
        return;
    int selectionStart = m_iSelectionStart;
    int selectionEnd = m_iSelectionEnd;
    if (selectionEnd < selectionStart) {
        qCDebug(lcUi) << "Warning: Reversed selection detected and caught. (end < start)";
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
            // groupUnderClick() answers only for items of type Group, which only groups report.
            if (!INVARIANT_HOLDS(lcUi, group))
                return;
            qCDebug(lcUi) << "Adding edit to group";
            const AudioEditPtr edit = EditCommands::createInGroup(type, group, m_pCache);
            if (edit)
                m_pUndoStack->push(new AddEditToGroupCommand(m_pCache, edit, group));
            else if (type == TypeReverse || type == TypeDuplicate)
                emit editMessage(tr("A group over deleted audio cannot hold a Reverse or a Duplicate."));
        }
    } else if (destination == -1) {
        pushAddedEdits(EditCommands::createInPlace(type, start, end, m_pCache));
    } else {
        const AudioEditPtr edit = AudioEditFactory::createEdit(type, destination, start, end, m_pCache);
        if (edit)
            m_pUndoStack->push(new AddEditCommand(m_pCache, edit));
    }
    clearFreeformSelection(true);
}

void SampleRendererEditor::pushAddedEdits(const QList<AudioEditPtr> &edits) {
    QList<QUndoCommand *> commands;
    for (const AudioEditPtr &edit : edits)
        commands.append(new AddEditCommand(m_pCache, edit));
    if (commands.size() > 1) {
        // A Reverse, Duplicate or paste over deleted spans is several edits, made in one step.
        auto *all = new MultipleEditCommand(commands);
        all->setText(commands.first()->text());
        m_pUndoStack->push(all);
    } else if (!commands.isEmpty()) {
        m_pUndoStack->push(commands.first());
    }
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
        qCDebug(lcUi) << "deleting end region:" << b << length;
        deleteRegion(b, length);
    }
    if (a > 0) {
        qCDebug(lcUi) << "deleting start region:" << 0 << a;
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
    {
        const QScopedValueRollback<bool> moving(m_bMovingSlicePoints, true);
        for (QUndoCommand *command : commands)
            m_pUndoStack->push(command);
    }
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
        m_regionClipboard = {};
        m_cutEditClipboard.clear();
        emit editCopied();
        emit editMessage(selected.size() > 1 ? tr("Edits copied.") : tr("Edit copied."));
        return;
    }
    m_regionClipboard = EditCommands::copyRegion(m_iSelectionStart, m_iSelectionEnd, m_pCache);
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
        m_regionClipboard = {};
        cutSelectedEdits();
        return;
    }
    m_editClipboard.clear();
    m_cutEditClipboard.clear();
    m_regionClipboard = EditCommands::copyRegion(m_iSelectionStart, m_iSelectionEnd, m_pCache);
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

QUndoCommand *SampleRendererEditor::pasteEdit(const AudioEditPtr &edit, int newStart) {
    if (!edit || !m_pCache)
        return nullptr;
    if (!m_bHasSelection) {
        if (AudioEditItem *groupItem = groupUnderClick()) {
            auto group = groupItem->edit().objectCast<AudioEditGroup>();
            if (group && group != edit) {
                qCDebug(lcUi) << "Adding edit to group";
                const AudioEditPtr clone = EditCommands::cloneWithOwnMembers(edit);
                clone->setRange(group->startSample(), group->endSample());
                return new AddEditToGroupCommand(m_pCache, clone, group);
            }
        }
    }
    const AudioEditPtr clone = EditCommands::cloneWithOwnMembers(edit);
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
    if (!m_regionClipboard.isEmpty()) {
        pushAddedEdits(EditCommands::pasteRegion(m_regionClipboard, p, m_pCache));
        clearFreeformSelection(true);
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
    qCDebug(lcUi) << "Hiding " << selected.size() << "selected items";
    if (selected.isEmpty() || !m_pUndoStack)
        return;
    QList<QUndoCommand *> commands;
    for (AudioEditItem *item : selected)
        commands.append(new SetEditVisibilityCommand(item->edit(), false, m_pHiddenEdits));
    pushCommands(commands);
    emit itemSelectionCleared();
    update();
}

bool SampleRendererEditor::hasHiddenItems() const {
    return std::any_of(m_items.cbegin(), m_items.cend(), [](const AudioEditItem *item) {
        const AudioEditPtr edit = item->edit();
        return edit && edit->showsItem() && edit->isHidden();
    });
}

bool SampleRendererEditor::canUnhideLast() const {
    return !m_pHiddenEdits->isEmpty() && itemForEdit(m_pHiddenEdits->last()) != nullptr;
}

void SampleRendererEditor::unhideAll() {
    QList<QUndoCommand *> commands;
    for (AudioEditItem *item : qAsConst(m_items)) {
        const AudioEditPtr edit = item->edit();
        if (edit && edit->showsItem() && edit->isHidden())
            commands.append(new SetEditVisibilityCommand(edit, true, m_pHiddenEdits));
    }
    qCDebug(lcUi) << "Unhiding" << commands.size() << "items";
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
