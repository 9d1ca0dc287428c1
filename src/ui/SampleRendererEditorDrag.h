#pragma once

#include "AudioEdit.h"
#include "SampleRendererEditor.h"

#include <QSharedPointer>
#include <QVector>

class EditableAudioCache;

// One mouse gesture of the edit view, from the press (or the first move that makes it a
// drag) to the release. start() remembers where it began; motion() follows the mouse and
// may change the model live; finish() makes what it changed one undo step; abort() puts
// back what it changed and leaves no step. The view owns the drag in progress and ends it
// exactly once, by finish or abort.
class SampleRendererEditor::Drag {
public:
    explicit Drag(SampleRendererEditor *view) : m_view(view) {}
    virtual ~Drag() = default;
    Drag(const Drag &) = delete;
    Drag &operator=(const Drag &) = delete;

    virtual void start() {}
    // pos in view coordinates; current is the sample under it, delta its distance from the
    // sample pressed on.
    virtual void motion(const QPoint &pos, Qt::MouseButtons buttons, int current, int delta) = 0;
    virtual void finish() {}
    virtual void abort() {}
    // The clicked item hears the release of every gesture but the move of edits' bodies.
    virtual bool releasesClickedItem() const { return true; }
    // The gesture acts on the clicked item and ends when that item goes.
    virtual bool followsClickedItem() const { return false; }

protected:
    SampleRendererEditor *const m_view;
};

// Makes a new freeform selection, or moves one of its edges. The selection is not part of
// the undo history: there is nothing to push.
class SampleRendererEditor::SelectionDrag : public SampleRendererEditor::Drag {
public:
    enum Part { NewSelection, StartEdge, EndEdge };
    SelectionDrag(SampleRendererEditor *view, Part part);
    void motion(const QPoint &pos, Qt::MouseButtons buttons, int current, int delta) override;
    void abort() override;

private:
    const Part m_part;
    const int m_iPressStart;
    const int m_iPressEnd;
    const bool m_bHadSelection;
};

// Moves the selected edits as a block, or moves their starts or ends. The edits follow the
// mouse live; the release pushes one step from where they were pressed to where they are.
class SampleRendererEditor::ItemDrag : public SampleRendererEditor::Drag {
public:
    enum Part { Body, StartHandle, EndHandle };
    ItemDrag(SampleRendererEditor *view, Part part);
    void start() override;
    void motion(const QPoint &pos, Qt::MouseButtons buttons, int current, int delta) override;
    void finish() override;
    void abort() override;
    bool releasesClickedItem() const override { return m_part != Body; }
    bool followsClickedItem() const override { return true; }

private:
    struct Moved {
        AudioEditPtr edit;
        bool clicked;
        qint64 pressStart;
        qint64 pressEnd;
    };
    // The part's own change of an edit's range, as its undo command makes it.
    void apply(const AudioEditPtr &edit, qint64 start, qint64 end);

    const Part m_part;
    QSharedPointer<EditableAudioCache> m_cache;
    QVector<Moved> m_moved;
};

// A drag an item runs itself (the gain handle): motion goes to the item, which pushes its
// own step when the view hands it the release.
class SampleRendererEditor::ItemOwnDrag : public SampleRendererEditor::Drag {
public:
    using Drag::Drag;
    void motion(const QPoint &pos, Qt::MouseButtons buttons, int current, int delta) override;
    bool followsClickedItem() const override { return true; }
};
