#include "EditViewTest.h"

#include "AudioEditDelete.h"
#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AudioEditItem.h"
#include "AudioEditItemFactory.h"
#include "AudioEditItemGain.h"
#include "AudioEditItemGroup.h"
#include "AudioEditNormalize.h"
#include "EditViewFixture.h"
#include "EditableAudioCache.h"
#include "SampleRendererEditor.h"
#include "Slice.h"
#include "Trevant.h"

#include <QPainter>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

using namespace EditViewRig;

namespace {

constexpr int kLength = 44100;
constexpr float kTolerance = 1e-5f;

bool near(float a, float b) {
    return std::fabs(a - b) < kTolerance;
}

// The indices worth checking around a region [s, e]: its ends, inside and both neighbours.
QList<int> probes(int s, int e) {
    return {s - 2, s - 1, s,     s + 1, s + 2, s + ((e - s) / 3 & ~1), s + ((e - s) / 2 & ~1),
            e - 1, e,     e + 2, e + 3};
}

AudioEditPtr onlyEdit(Rig &rig, int type) {
    for (const AudioEditPtr &edit : rig.cache()->edits())
        if (edit->type() == type)
            return edit;
    return {};
}

} // namespace

void EditViewTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_loop = writeLoop(m_dir, kLength / 2);
    QVERIFY(!m_loop.isEmpty());
}

void EditViewTest::artworkAndItemFactory() {
    for (const char *name :
         {":/edit_header.png", ":/edit_shadow.png", ":/edit_handle1.png", ":/edit_handle2.png"}) {
        QPixmap one(name);
        QVERIFY2(!one.isNull(), name);
        QCOMPARE(one.height() % 2 == 0 || QString(name).contains("shadow"), true);
    }
    QCOMPARE(QPixmap(":/edit_header@2x.png").size(), QPixmap(":/edit_header.png").size() * 2);
    QCOMPARE(QPixmap(":/edit_shadow@2x.png").size(), QPixmap(":/edit_shadow.png").size() * 2);
    // Two caps of 6 x 20 side by side, and a 20-pixel tile.
    QCOMPARE(QPixmap(":/edit_handle2.png").size(), QSize(12, 20));
    QCOMPARE(QPixmap(":/edit_handle1.png").height(), 20);

    Rig rig;
    QVERIFY(rig.load(m_loop));
    for (int type = 0; type <= 9; ++type) {
        const AudioEditPtr edit = AudioEditFactory::createEdit(type, -1, 100, 200, rig.cache());
        QVERIFY(edit);
        std::unique_ptr<AudioEditItem> item(AudioEditItemFactory::createItem(edit, rig.view.get()));
        QCOMPARE(qobject_cast<AudioEditItemGroup *>(item.get()) != nullptr, type == TypeGroup);
        QCOMPARE(qobject_cast<AudioEditItemGain *>(item.get()) != nullptr, type == TypeGain);
        // Deletes and the mute of a cut have no item to see or hit.
        QCOMPARE(item->isHidden(), type == TypeDelete || type == TypeHiddenMute);
    }
    // A type the factory does not know still gets a plain item, with a warning.
    class Unknown : public AudioEdit {
    public:
        Unknown() : AudioEdit("Odd", Qt::gray) {}
        int type() const override { return 12; }
        AudioEditPtr clone() const override { return AudioEditPtr(new Unknown); }
    };
    QTest::ignoreMessage(QtDebugMsg, "Warning: Unhandled AudioEdit type in src/AudioEditItemFactory");
    std::unique_ptr<AudioEditItem> odd(
        AudioEditItemFactory::createItem(AudioEditPtr(new Unknown), rig.view.get()));
    QVERIFY(odd);
    QCOMPARE(odd->metaObject(), &AudioEditItem::staticMetaObject);
}

void EditViewTest::viewWithoutEditableCacheDoesNothing() {
    Rig rig;
    QVERIFY(rig.slicer->slotLoadLoop(m_loop));
    rig.view->setSlice(rig.loop());
    QTest::ignoreMessage(QtDebugMsg, "AudioCache is not an EditableAudioCache!");
    QVERIFY(!rig.view->prepareForEditing());
    rig.view->setFreeformSelection(100, 2000);
    rig.view->slotFadeIn();
    rig.view->slotDelete();
    rig.view->deleteRegion(100, 2000);
    QCOMPARE(rig.stack.count(), 0);
    for (QAction *action : rig.view->effectActions())
        QVERIFY(!action->isEnabled());
}

void EditViewTest::effectActionsMakeUndoableEdits() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    const QStringList order = {"Fade In",   "Fade Out", "Reverse",           "Duplicate", "Gain",
                               "Normalize", "Mute",     "Trim to Selection", "New Group"};
    QStringList texts;
    for (QAction *action : v->effectActions()) {
        texts << action->text();
        QVERIFY(!action->isEnabled());
    }
    QCOMPARE(texts, order);

    // A freeform selection by mouse enables the effects.
    QSignalSpy created(v, &SampleRendererEditor::freeformSelectionCreated);
    drag(v, QPoint(200, 150), QPoint(400, 150));
    QVERIFY(v->hasFreeformSelection());
    QCOMPARE(created.count(), 1);
    const int s = v->selectionStart();
    const int e = v->selectionEnd();
    QCOMPARE(s, 8820);
    QCOMPARE(e, 17640);
    for (QAction *action : v->effectActions())
        QVERIFY(action->isEnabled());

    struct Kind {
        QString action;
        QString undoText;
        std::function<float(int)> inside;
    };
    const float len = float(e - s);
    const QList<Kind> kinds = {
        {"Fade In", "add Fade In", [&](int i) { return sourceSample(i) * (float(i - s) / len); }},
        {"Fade Out", "add Fade Out", [&](int i) { return sourceSample(i) * (float(s + (e - s) - i) / len); }},
        {"Reverse", "add Reverse", [&](int i) { return sourceSample(s + e - i); }},
        {"Duplicate", "add Duplicate", [&](int i) { return sourceSample(i); }},
        {"Gain", "add Gain", [&](int i) { return sourceSample(i); }},
        {"Mute", "add Mute", [&](int) { return 0.0f; }},
    };
    for (const Kind &kind : kinds) {
        v->setFreeformSelection(s, e);
        rig.effect(kind.action)->trigger();
        QVERIFY2(!v->hasFreeformSelection(), qPrintable(kind.action));
        QCOMPARE(rig.stack.count(), 1);
        QCOMPARE(rig.stack.text(0), kind.undoText);
        QCOMPARE(v->items().size(), 1);
        for (int i : probes(s, e)) {
            const float expected = (i >= s && i <= e) ? kind.inside(i) : sourceSample(i);
            QVERIFY2(near(rig.sample(i), expected), qPrintable(QString("%1 at %2: %3, expected %4")
                                                                   .arg(kind.action)
                                                                   .arg(i)
                                                                   .arg(rig.sample(i))
                                                                   .arg(expected)));
        }
        rig.stack.undo();
        QVERIFY(v->items().isEmpty());
        for (int i : probes(s, e))
            QVERIFY2(near(rig.sample(i), sourceSample(i)), qPrintable(kind.action + " undone"));
        rig.stack.redo();
        QCOMPARE(v->items().size(), 1);
        const int mid = s + ((e - s) / 2 & ~1);
        QVERIFY(near(rig.sample(mid), kind.inside(mid)));
        rig.stack.undo();
        rig.stack.clear();
    }
    // In slicing mode the view is hidden and its effects with it.
    v->setFreeformSelection(s, e);
    QVERIFY(rig.effect("Gain")->isEnabled());
    v->hide();
    QVERIFY(!rig.effect("Gain")->isEnabled());
    v->show();
    QVERIFY(rig.effect("Gain")->isEnabled());
    v->selectNone();

    // The actions go dark again when the selection goes.
    for (QAction *action : v->effectActions())
        QVERIFY(!action->isEnabled());
    // Nothing is made without a selection.
    rig.effect("Fade In")->trigger();
    QCOMPARE(rig.stack.count(), 0);
}

void EditViewTest::normalizeShowsProgressAndScales() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    const int s = 8820;
    const int e = 17640;
    v->setFreeformSelection(s, e);
    rig.effect("Normalize")->trigger();
    QCOMPARE(rig.stack.text(0), QString("add Normalize"));
    QCOMPARE(v->items().size(), 1);
    AudioEditItem *item = v->items().first();
    const auto normalize = item->edit().objectCast<AudioEditNormalize>();
    QVERIFY(normalize);

    float maxLeft = 0.0f;
    float maxRight = 0.0f;
    for (int i = s; i < e; i += 2) {
        maxLeft = std::max(maxLeft, sourceSample(i));
        maxRight = std::max(maxRight, sourceSample(i + 1));
    }
    const float gain = float((1.0 / std::max(maxLeft, maxRight)) * 0.707);
    QTRY_VERIFY_WITH_TIMEOUT(near(normalize->gain(), gain), 20000);
    const int probe = s + 1000;
    QTRY_VERIFY_WITH_TIMEOUT(near(rig.sample(probe), sourceSample(probe) * gain), 20000);
    QVERIFY(near(rig.sample(e + 2), sourceSample(e + 2)));
    QTRY_COMPARE_WITH_TIMEOUT(item->progress(), 0.0f, 20000);

    // The pie follows the edit's analysis signals.
    emit normalize->analysisProgress(0.25f);
    QCOMPARE(item->progress(), 0.25f);
    const QImage withPie = v->grab().toImage();
    const QPoint pieCentre(item->rect().right() - 11, item->rect().top() + AudioEditItem::kHeaderHeight + 11);
    QCOMPARE(QColor(withPie.pixel(pieCentre + QPoint(2, -3))), QColor(Qt::white));
    emit normalize->analysisFinished();
    QCOMPARE(item->progress(), 0.0f);
}

// A Normalize brings to the target the audio that reaches it: when an edit processed before
// it changes where they overlap (a gain dragged, the edit moved, undone or redone), it is
// analysed again.
void EditViewTest::normalizeFollowsTheEditsBeforeIt() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("Gain")->trigger();
    auto *gainItem = qobject_cast<AudioEditItemGain *>(v->items().first());
    QVERIFY(gainItem);
    const auto gain = gainItem->edit().objectCast<AudioEditGain>();
    const int ns = 10000, ne = 14000;
    v->setFreeformSelection(ns, ne);
    rig.effect("Normalize")->trigger();
    AudioEditNormalize *normalize = nullptr;
    for (AudioEditItem *item : v->items())
        if (auto n = item->edit().objectCast<AudioEditNormalize>())
            normalize = n.data();
    QVERIFY(normalize);
    // The gain that brings the peak of what reaches the Normalize to the target.
    const auto expected = [&] {
        float peak = 0.0f;
        for (int i = ns; i < ne; ++i) {
            const float g = gain->covers(i) ? gain->gain() : 1.0f;
            peak = std::max(peak, std::fabs(sourceSample(i) * g));
        }
        return float(AudioEditNormalize::kTargetPeak / peak);
    };
    const auto follows = [&] { return std::fabs(normalize->gain() - expected()) < 1e-4f * expected(); };
    QTRY_VERIFY_WITH_TIMEOUT(follows(), 20000);
    const float unity = normalize->gain();

    // The gain's handle dragged down to half the level, right of the Normalize.
    v->selectNone();
    gainItem->updateGeometry();
    const int x = int(v->sampleToPixel(16000));
    const int y = gainItem->handleY();
    press(v, QPoint(x, y));
    move(v, QPoint(x, y + 5));
    move(v, QPoint(x, y + gainItem->rect().height() / 4));
    release(v, QPoint(x, y + gainItem->rect().height() / 4));
    QVERIFY(std::fabs(gain->gain() - 0.5f) < 0.01f);
    QVERIFY(expected() > unity * 1.5f);
    QTRY_VERIFY_WITH_TIMEOUT(follows(), 20000);
    // What plays peaks at the target.
    const int probe = 12000;
    QTRY_VERIFY_WITH_TIMEOUT(near(rig.sample(probe), sourceSample(probe) * gain->gain() * expected()), 20000);

    rig.stack.undo();
    QCOMPARE(gain->gain(), 1.0f);
    QTRY_VERIFY_WITH_TIMEOUT(follows(), 20000);
    QCOMPARE(normalize->gain(), unity);
    rig.stack.redo();
    QTRY_VERIFY_WITH_TIMEOUT(follows(), 20000);

    // The gain edit moved off the Normalize: it no longer reaches it.
    rig.cache()->setEditRange(gain, 0, 8820);
    QTRY_VERIFY_WITH_TIMEOUT(follows(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(normalize->gain() - unity) < 1e-4f * unity, 20000);
}

void EditViewTest::mouseMovesAndResizesEdits() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("Duplicate")->trigger();
    const AudioEditPtr edit = v->items().first()->edit();

    // The body: the copied audio moves with the edit; all moves are one undo step.
    drag(v, QPoint(300, 150), QPoint(400, 150), 8);
    QCOMPARE(edit->startSample(), 13230);
    QCOMPARE(edit->endSample(), 22050);
    QCOMPARE(rig.stack.count(), 2);
    QCOMPARE(rig.stack.text(1), QString("move Duplicate"));
    QVERIFY(near(rig.sample(13330), sourceSample(8920)));
    QVERIFY(near(rig.sample(9000), sourceSample(9000)));
    rig.stack.undo();
    QCOMPARE(edit->startSample(), 8820);
    QCOMPARE(edit->endSample(), 17640);
    QVERIFY(near(rig.sample(13330), sourceSample(13330)));
    rig.stack.redo();
    QCOMPARE(edit->startSample(), 13230);

    // The end handle, over many moves: one more undo entry.
    const int right = int(v->sampleToPixel(edit->endSample())) - 1;
    press(v, QPoint(right, 150));
    for (int x = right + 5; x <= right + 100; x += 5)
        move(v, QPoint(x, 150));
    release(v, QPoint(right + 100, 150));
    QCOMPARE(rig.stack.count(), 3);
    QCOMPARE(rig.stack.text(2), QString("move Duplicate end"));
    QVERIFY(edit->endSample() > 22050 + 4000);
    QCOMPARE(edit->endSample() % 2, 0);
    QCOMPARE(edit->startSample(), 13230);
    rig.stack.undo();
    QCOMPARE(edit->endSample(), 22050);
    rig.stack.redo();

    // The start handle, dragged past the end, stays at least 8 pixels short of it.
    const int left = int(v->sampleToPixel(edit->startSample()));
    drag(v, QPoint(left + 2, 150), QPoint(990, 150), 10);
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("move Duplicate start"));
    QVERIFY(edit->startSample() <= edit->endSample() - int(8 * v->samplesPerPixel()));
    QCOMPARE(edit->startSample() % 2, 0);
    rig.stack.undo();
    QCOMPARE(edit->startSample(), 13230);

    // Dragged far past the loop's start, the edit stops there at its full length.
    const int length = edit->endSample() - edit->startSample();
    const int mid = int(v->sampleToPixel(edit->startSample() + length / 2));
    drag(v, QPoint(mid, 150), QPoint(-600, 150), 6);
    QCOMPARE(edit->startSample(), 0);
    QCOMPARE(edit->endSample(), length);
    drag(v, QPoint(20, 150), QPoint(1600, 150), 6);
    QCOMPARE(edit->endSample(), kLength);
    QCOMPARE(edit->endSample() - edit->startSample(), length);

    // A click without moving makes no undo step.
    const int count = rig.stack.count();
    press(v, QPoint(900, 150));
    move(v, QPoint(902, 150));
    release(v, QPoint(902, 150));
    QCOMPARE(rig.stack.count(), count);
    QVERIFY(edit->isSelected());
}

void EditViewTest::eachDragIsOneStepPushedOnRelease() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640); // pixels 200 to 400
    rig.effect("Duplicate")->trigger();
    const AudioEditPtr edit = v->items().first()->edit();
    const int steps = rig.stack.count();

    // The edit follows the mouse; the undo history waits for the release.
    press(v, QPoint(300, 150));
    move(v, QPoint(320, 150));
    move(v, QPoint(400, 150));
    QCOMPARE(edit->startSample(), 13230);
    QCOMPARE(rig.stack.count(), steps);
    release(v, QPoint(400, 150));
    QCOMPARE(rig.stack.count(), steps + 1);
    // Another drag of the same edit is a step of its own.
    drag(v, QPoint(400, 150), QPoint(500, 150), 4);
    QCOMPARE(rig.stack.count(), steps + 2);
    QCOMPARE(edit->startSample(), 17640);
    rig.stack.undo();
    QCOMPARE(edit->startSample(), 13230);
    rig.stack.undo();
    QCOMPARE(edit->startSample(), 8820);
    QCOMPARE(edit->endSample(), 17640);

    // An undo that takes the dragged edit away puts back what the drag did and leaves no step.
    press(v, QPoint(300, 150));
    move(v, QPoint(400, 150));
    QCOMPARE(edit->startSample(), 13230);
    rig.stack.undo(); // the Duplicate itself
    QCOMPARE(edit->startSample(), 8820);
    move(v, QPoint(450, 150));
    release(v, QPoint(450, 150));
    QCOMPARE(rig.stack.count(), steps + 2);
    rig.stack.redo();
    QCOMPARE(edit->startSample(), 8820);
    QCOMPARE(edit->endSample(), 17640);

    // The undo shortcut with the mouse still down: the drag so far becomes its step and is
    // undone; the rest of the way moves nothing. (The mouse's way on after the edit went
    // above was a new selection, whose edge would take this press.)
    v->selectNone();
    press(v, QPoint(300, 150));
    move(v, QPoint(400, 150));
    QCOMPARE(edit->startSample(), 13230);
    QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_Z, Qt::ControlModifier);
    QApplication::sendEvent(v, &shortcut);
    QCOMPARE(rig.stack.count(), steps + 1);
    rig.stack.undo();
    QCOMPARE(edit->startSample(), 8820);
    move(v, QPoint(500, 150));
    release(v, QPoint(500, 150));
    QCOMPARE(edit->startSample(), 8820);
    QCOMPARE(rig.stack.index(), steps);
}

// The value of a Gain edit is drawn clear of its handle, wherever the handle is, and
// stays legible when the edit is unselected: the view then paints it half transparent
// over a bright waveform.
void EditViewTest::gainValueReadsClearOfTheHandle() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("Gain")->trigger();
    auto *item = qobject_cast<AudioEditItemGain *>(v->items().first());
    QVERIFY(item);
    const auto gain = item->edit().objectCast<AudioEditGain>();
    item->updateGeometry();
    for (float g : {1.0f, 4.0f, 0.05f}) {
        gain->setGain(g);
        item->updateGeometry();
        const QRect label = item->labelRect();
        QVERIFY2(!label.isEmpty(), qPrintable(QString::number(g)));
        const QRect handle(item->rect().left(), item->handleY() - AudioEditItem::kHeaderHeight / 2,
                           item->rect().width(), AudioEditItem::kHeaderHeight);
        QVERIFY2(!label.intersects(handle), qPrintable(QString::number(g)));
        QVERIFY(item->rect().contains(label));

        QImage image(v->size(), QImage::Format_ARGB32);
        image.fill(QColor(190, 255, 90)); // a bright waveform behind
        QPainter painter(&image);
        painter.setOpacity(0.5);
        item->paint(&painter);
        painter.end();
        int lightest = 0, darkest = 255;
        for (int y = label.top(); y <= label.bottom(); ++y)
            for (int x = label.left(); x <= label.right(); ++x) {
                lightest = std::max(lightest, qGray(image.pixel(x, y)));
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
            }
        QVERIFY2(lightest - darkest > 150, qPrintable(QString("%1 to %2").arg(darkest).arg(lightest)));
    }
}

void EditViewTest::gainHandleSetsGain() {
    QCOMPARE(AudioEditItemGain::gainLabel(2.0f), QString("6.02 dB"));
    QCOMPARE(AudioEditItemGain::gainLabel(1.0f), QString("0.00 dB"));
    QCOMPARE(AudioEditItemGain::gainLabel(0.0f), QString("-inf dB"));
    QCOMPARE(AudioEditItemGain::handleValueForGain(0.5f), 0.5f);
    QVERIFY(std::fabs(AudioEditItemGain::handleValueForGain(1.3f) - 1.0f) < 1e-6f);
    QVERIFY(std::fabs(AudioEditItemGain::gainForHandleValue(AudioEditItemGain::handleValueForGain(3.0f)) -
                      3.0f) < 1e-5f);

    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("Gain")->trigger();
    auto *item = qobject_cast<AudioEditItemGain *>(v->items().first());
    QVERIFY(item);
    const auto gain = item->edit().objectCast<AudioEditGain>();
    item->updateGeometry();
    const QRect r = item->rect();
    // Gain 1.0: the handle halfway up the item.
    QVERIFY(std::abs(item->handleY() - (r.top() + r.height() / 2)) <= 1);

    const int y = item->handleY();
    press(v, QPoint(300, y));
    // Up past the middle: the gain jumps to 1.3 and grows from there.
    move(v, QPoint(300, y - 2));
    QVERIFY(gain->gain() >= 1.3f);
    move(v, QPoint(300, y - 40));
    const float up = gain->gain();
    QVERIFY(up > 1.3f);
    QCOMPARE(item->label(), AudioEditItemGain::gainLabel(up));
    // Down a quarter of the item's height: half the level.
    move(v, QPoint(300, y + r.height() / 4));
    QVERIFY(std::fabs(gain->gain() - 0.5f) < 0.01f);
    const float g = gain->gain();
    QVERIFY(near(rig.sample(10000), sourceSample(10000) * g));
    QVERIFY(near(rig.sample(20000), sourceSample(20000)));
    // Far down: silence, never a negative gain.
    move(v, QPoint(300, 5000));
    QCOMPARE(gain->gain(), 0.0f);
    QCOMPARE(item->label(), QString("-inf dB"));
    release(v, QPoint(300, 5000));
    QVERIFY(!item->isDragging());
    // The gain handle is not a move of the edit, and the whole drag is one undo step.
    QCOMPARE(gain->startSample(), 8820);
    QCOMPARE(rig.stack.count(), 2);
    QVERIFY(rig.stack.undoText().contains("Gain"));
    QVERIFY(rig.sample(10000) == 0.0f);
    rig.stack.undo();
    QCOMPARE(gain->gain(), 1.0f);
    QCOMPARE(item->label(), QString("0.00 dB"));
    QTRY_VERIFY(near(rig.sample(10000), sourceSample(10000)));
    rig.stack.redo();
    QCOMPARE(gain->gain(), 0.0f);
    QTRY_VERIFY(rig.sample(10000) == 0.0f);
    // A click on the handle without a move leaves nothing to undo.
    rig.stack.undo();
    const int y1 = item->handleY();
    press(v, QPoint(300, y1));
    release(v, QPoint(300, y1));
    QCOMPARE(rig.stack.count(), 2);
    QCOMPARE(rig.stack.index(), 1);
}

void EditViewTest::groupsTakeMembers() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("New Group")->trigger();
    QCOMPARE(rig.stack.text(0), QString("add Group"));
    auto *groupItem = qobject_cast<AudioEditItemGroup *>(v->items().first());
    QVERIFY(groupItem);
    const auto group = groupItem->edit().objectCast<AudioEditGroup>();

    // A right click on the group makes it the target of the effects.
    press(v, QPoint(300, 150), Qt::RightButton);
    release(v, QPoint(300, 150), Qt::RightButton);
    QVERIFY(v->contextMenu()->isVisible());
    QVERIFY(!v->hasFreeformSelection());
    QVERIFY(rig.effect("Mute")->isEnabled());
    rig.effect("Mute")->trigger();
    QCOMPARE(rig.stack.text(1), QString("add Mute to group"));
    rig.effect("Gain")->trigger();
    QCOMPARE(rig.stack.text(2), QString("add Gain to group"));
    v->contextMenu()->hide();
    QTRY_VERIFY(!rig.effect("Mute")->isEnabled());
    QCOMPARE(group->members().size(), 2);
    QCOMPARE(groupItem->memberItems().size(), 2);
    QVERIFY(qobject_cast<AudioEditItemGain *>(groupItem->memberItems().first()));
    QVERIFY(near(rig.sample(10000), 0.0f));
    QVERIFY(near(rig.sample(20000), sourceSample(20000)));

    // Moving the group moves its members.
    drag(v, QPoint(300, 150), QPoint(400, 150));
    QCOMPARE(group->startSample(), 13230);
    for (const AudioEditPtr &member : group->members())
        QCOMPARE(member->startSample(), 13230);
    QVERIFY(near(rig.sample(20000), 0.0f));
    QVERIFY(near(rig.sample(10000), sourceSample(10000)));

    // Members stack inside the group; clicking a member's header folds the others.
    groupItem->updateGeometry();
    const QRect top = groupItem->memberItems().last()->rect();
    QVERIFY(groupItem->rect().contains(top));
    QCOMPARE(top.top(), groupItem->rect().top() + AudioEditItem::kHeaderHeight + 1);
    QTest::ignoreMessage(QtDebugMsg, "clicked header");
    groupItem->mousePress(top.topLeft() + QPoint(10, 5), Qt::LeftButton, Qt::NoModifier);
    QVERIFY(!groupItem->memberItems().last()->isCollapsed());
    QVERIFY(groupItem->memberItems().first()->isCollapsed());
    groupItem->mouseRelease(top.topLeft(), Qt::LeftButton);

    rig.stack.undo(); // the move
    rig.stack.undo(); // the gain member
    QCOMPARE(groupItem->memberItems().size(), 1);
    rig.stack.undo(); // the mute member
    QTRY_COMPARE(groupItem->memberItems().size(), 0);
    QVERIFY(near(rig.sample(10000), sourceSample(10000)));
}

// A region deleted inside a group that reverses its audio is gone from what plays, as it is
// from a Reverse of its own; an undo brings back the exact sound.
void EditViewTest::regionDeletedInsideAReversingGroup() {
    auto sound = [](Rig &rig) {
        const int length = rig.loop()->length();
        rig.settle();
        rig.cache()->markSamplesAsDirty(0, length);
        QVector<float> samples;
        for (int i = 0; i < length; ++i)
            samples.append(rig.sample(i));
        return samples;
    };
    Rig plain;
    QVERIFY(plain.load(m_loop));
    plain.view->createEdit(TypeReverse, -1, 8820, 17640);
    plain.view->deleteRegion(10000, 12000);
    const QVector<float> expected = sound(plain);

    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(8820, 17640);
    rig.effect("New Group")->trigger();
    press(v, QPoint(300, 150), Qt::RightButton);
    release(v, QPoint(300, 150), Qt::RightButton);
    rig.effect("Reverse")->trigger();
    v->contextMenu()->hide();
    const QVector<float> before = sound(rig);
    v->setFreeformSelection(10000, 12000);
    v->slotDelete();
    const QVector<float> after = sound(rig);
    QCOMPARE(after.size(), expected.size());
    for (int i = 0; i < after.size(); ++i)
        if (!near(after.at(i), expected.at(i)))
            QFAIL(qPrintable(QString("sample %1 plays %2, not %3").arg(i).arg(after.at(i)).arg(expected.at(i))));

    rig.stack.undo();
    QVERIFY(sound(rig) == before);
    rig.stack.redo();
    QVERIFY(sound(rig) == after);
}

void EditViewTest::pastedGroupHasItsOwnMembers() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(4410, 8820);
    rig.effect("New Group")->trigger();
    const auto group = v->items().first()->edit().objectCast<AudioEditGroup>();
    press(v, QPoint(150, 60), Qt::RightButton);
    rig.effect("Mute")->trigger();
    v->contextMenu()->hide();
    QTRY_VERIFY(!rig.effect("Mute")->isEnabled());
    group->setSelected(true);
    v->slotCopy();
    move(v, QPoint(600, 60), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(v->items().size(), 2);
    const auto pasted = v->items().first()->edit().objectCast<AudioEditGroup>();
    QVERIFY(pasted && pasted != group);
    QCOMPARE(pasted->startSample(), 26460);
    QCOMPARE(pasted->members().size(), 1);
    QVERIFY(pasted->members().first() != group->members().first());
    QCOMPARE(pasted->members().first()->startSample(), 26460);
    QCOMPARE(group->members().first()->startSample(), 4410);
    // Both places are silent.
    QVERIFY(near(rig.sample(6000), 0.0f));
    QVERIFY(near(rig.sample(28000), 0.0f));
    QVERIFY(near(rig.sample(20000), sourceSample(20000)));
}

void EditViewTest::signalsAndSlotsByName() {
    // The main window links each view to the zoom bar by signature strings.
    Rig rig;
    QObject receiver;
    QVERIFY(QObject::connect(rig.view.get(), SIGNAL(viewChanged(long, long)), &receiver, SLOT(deleteLater())));
    for (const char *slot : {SLOT(setViewPosition(long, long)), SLOT(setWaveformDirtyAndRepaint())})
        QVERIFY2(rig.view->metaObject()->indexOfSlot(QMetaObject::normalizedSignature(slot + 1)) >= 0, slot);
}

void EditViewTest::hideAndUnhide() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->unhideLast(); // nothing hidden: nothing to undo
    QCOMPARE(rig.stack.count(), 0);
    v->setFreeformSelection(2000, 6000);
    rig.effect("Fade In")->trigger();
    v->setFreeformSelection(20000, 30000);
    rig.effect("Gain")->trigger();
    v->selectAll();
    QCOMPARE(v->selectedItems().size(), 2);

    QSignalSpy cleared(v, &SampleRendererEditor::itemSelectionCleared);
    v->hideSelectedEdits();
    QCOMPARE(rig.stack.count(), 3);
    QCOMPARE(v->hiddenEditCount(), 2);
    QVERIFY(v->selectedItems().isEmpty());
    QVERIFY(cleared.count() >= 1);
    for (AudioEditItem *item : v->items())
        QVERIFY(item->isHidden());
    // Hidden edits still sound.
    QVERIFY(near(rig.sample(2000), 0.0f));
    // Hidden items are not hit: a press there starts a selection instead.
    drag(v, QPoint(600, 150), QPoint(650, 150));
    QVERIFY(v->hasFreeformSelection());
    v->selectNone();

    const AudioEditPtr fade = onlyEdit(rig, TypeFadeIn);
    const AudioEditPtr gain = onlyEdit(rig, TypeGain);
    v->unhideLast();
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("unhide last"));
    QVERIFY(fade->isHidden() != gain->isHidden());
    v->unhideAll();
    QVERIFY(!fade->isHidden() && !gain->isHidden());
    rig.stack.undo();
    QVERIFY(fade->isHidden() != gain->isHidden());
    rig.stack.undo();
    QVERIFY(fade->isHidden() && gain->isHidden());
    QSignalSpy selected(v, &SampleRendererEditor::itemSelected);
    rig.stack.undo();
    QVERIFY(!fade->isHidden() && !gain->isHidden());
    // The hide undone: both are selected again, and the main window hears of it.
    QCOMPARE(v->selectedItems().size(), 2);
    QVERIFY(selected.count() >= 1);

    // One edit hidden alone is one "hide" step.
    v->selectNone();
    v->items().first()->setSelected(true);
    v->hideSelectedEdits();
    QVERIFY(rig.stack.text(rig.stack.count() - 1).startsWith("hide "));
}

// "Unhide Last" shows the edit hidden last among those still hidden: a hide that was undone
// or an edit shown again by "Unhide All" is not taken, so its undo never hides an edit the
// musician left visible.
void EditViewTest::unhideLastOnlyShowsWhatIsHidden() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(2000, 6000);
    rig.effect("Fade In")->trigger();
    v->setFreeformSelection(20000, 30000);
    rig.effect("Gain")->trigger();
    const AudioEditPtr fade = onlyEdit(rig, TypeFadeIn);
    const AudioEditPtr gain = onlyEdit(rig, TypeGain);
    auto hide = [v](const AudioEditPtr &edit) {
        v->selectNone();
        v->itemForEdit(edit)->setSelected(true);
        v->hideSelectedEdits();
    };

    // Hidden, then the hide undone: nothing is hidden, so there is nothing to unhide.
    hide(fade);
    rig.stack.undo();
    QVERIFY(!fade->isHidden());
    int steps = rig.stack.index();
    v->unhideLast();
    QCOMPARE(rig.stack.index(), steps);
    QVERIFY(!fade->isHidden());
    // Redone, it is the one to unhide again.
    rig.stack.redo();
    QVERIFY(fade->isHidden());
    v->unhideLast();
    QVERIFY(!fade->isHidden());
    rig.stack.undo();
    QVERIFY(fade->isHidden());
    rig.stack.redo();
    QVERIFY(!fade->isHidden());

    // Both hidden, both shown by Unhide All: Unhide Last has nothing left to show. Undoing
    // Unhide All hides them again, in the order they were hidden.
    hide(fade);
    hide(gain);
    v->unhideAll();
    QVERIFY(!fade->isHidden() && !gain->isHidden());
    steps = rig.stack.index();
    v->unhideLast();
    QCOMPARE(rig.stack.index(), steps);
    rig.stack.undo();
    QVERIFY(fade->isHidden() && gain->isHidden());
    v->unhideLast();
    QVERIFY(fade->isHidden() && !gain->isHidden());
    v->unhideLast();
    QVERIFY(!fade->isHidden() && !gain->isHidden());
    rig.stack.undo();
    rig.stack.undo();
    QVERIFY(fade->isHidden() && gain->isHidden());
}

void EditViewTest::copyAndPasteEdits() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    QSignalSpy messages(v, &SampleRendererEditor::editMessage);
    QSignalSpy copied(v, &SampleRendererEditor::editCopied);
    QSignalSpy pasted(v, &SampleRendererEditor::copyPasted);

    v->slotPaste(); // nothing copied yet
    QCOMPARE(rig.stack.count(), 0);

    v->setFreeformSelection(8820, 17640);
    rig.effect("Reverse")->trigger();
    v->slotCopy();
    QCOMPARE(copied.count(), 1);
    QCOMPARE(messages.last().first().toString(), QString("Edit copied."));

    move(v, QPoint(600, 150), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(pasted.count(), 1);
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("paste"));
    QCOMPARE(v->items().size(), 2);
    const AudioEditPtr pastedEdit = v->items().first()->edit();
    QCOMPARE(pastedEdit->startSample(), 26460);
    QCOMPARE(pastedEdit->endSample(), 26460 + 8820);
    // The pasted copy plays the original region backwards at its new place.
    QVERIFY(near(rig.sample(26460), sourceSample(17640)));
    QVERIFY(near(rig.sample(26460 + 8820), sourceSample(8820)));
    QVERIFY(near(rig.sample(26460 - 2), sourceSample(26460 - 2)));

    // Pasting near the end keeps the copy inside the loop.
    move(v, QPoint(990, 150), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(v->items().first()->edit()->endSample(), kLength);
    QCOMPARE(v->items().first()->edit()->length(), 8820);

    v->selectAll();
    v->slotCopy();
    QCOMPARE(messages.last().first().toString(), QString("Edits copied."));
    move(v, QPoint(100, 150), Qt::NoButton);
    const int before = v->items().size();
    v->slotPaste();
    QCOMPARE(v->items().size(), before * 2);
    // Several edits pasted together are one undo step.
    rig.stack.undo();
    QCOMPARE(v->items().size(), before);
}

void EditViewTest::cutSelectionAndPasteIt() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    QSignalSpy messages(v, &SampleRendererEditor::editMessage);
    QSignalSpy selectionCopied(v, &SampleRendererEditor::selectionCopied);
    v->setFreeformSelection(8820, 17640);
    v->slotCut();
    QCOMPARE(selectionCopied.count(), 1);
    QCOMPARE(messages.last().first().toString(), QString("Selection cut."));
    QVERIFY(!v->hasFreeformSelection());
    for (int i : {8820, 10001, 17640})
        QVERIFY(near(rig.sample(i), 0.0f));
    QVERIFY(near(rig.sample(8818), sourceSample(8818)));
    QVERIFY(near(rig.sample(17642), sourceSample(17642)));
    // The silence has no item to see.
    for (AudioEditItem *item : v->items())
        QVERIFY(item->isHidden());

    move(v, QPoint(600, 150), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(messages.last().first().toString(), QString("Selection pasted."));
    for (int k : {0, 1, 1000, 8820})
        QVERIFY(near(rig.sample(26460 + k), sourceSample(8820 + k)));
    // The cut region stays silent where it was.
    QVERIFY(near(rig.sample(10001), 0.0f));
    rig.stack.undo();
    QVERIFY(near(rig.sample(27000), sourceSample(27000)));
    rig.stack.undo();
    QVERIFY(near(rig.sample(10001), sourceSample(10001)));

    // Copying a selection pastes the same audio without silencing it.
    v->setFreeformSelection(2000, 4000);
    v->slotCopy();
    QCOMPARE(messages.last().first().toString(), QString("Selection copied."));
    move(v, QPoint(800, 150), Qt::NoButton);
    v->slotPaste();
    QVERIFY(near(rig.sample(35280 + 10), sourceSample(2010)));
    QVERIFY(near(rig.sample(2010), sourceSample(2010)));
}

// A pasted selection is the audio heard when it was copied: audio deleted inside it stays
// deleted, and a region deleted before it meanwhile does not shift what is pasted.
void EditViewTest::pastedSelectionIsWhatWasHeard() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->deleteRegion(10000, 12000);
    QVector<float> heard;
    for (int i = 8000; i < 14000; ++i)
        heard.append(rig.sample(i));
    v->setFreeformSelection(8000, 14000);
    v->slotCopy();
    v->deleteRegion(1000, 3000);
    const int length = rig.loop()->length();
    QVector<float> before;
    for (int i = 0; i < length; ++i)
        before.append(rig.sample(i));

    move(v, QPoint(600, 150), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("paste"));
    int at = length;
    for (const AudioEditPtr &edit : rig.cache()->edits())
        if (edit->type() == TypeDuplicate)
            at = std::min(at, edit->startSample());
    QCOMPARE(at, (length * 600 / 1000) & ~1);
    int wrong = 0;
    for (int k = 0; k < heard.size(); ++k)
        // The right sample of the frame where the copy jumps over the deleted audio is the
        // one an edit's end leaves alone.
        if (k != 1999 && !near(rig.sample(at + k), heard.at(k)))
            ++wrong;
    QCOMPARE(wrong, 0);
    QVERIFY(near(rig.sample(at - 2), before.at(at - 2)));
    QVERIFY(near(rig.sample(at + 6002), before.at(at + 6002)));

    rig.stack.undo();
    rig.cache()->markSamplesAsDirty(0, length);
    for (int i = 0; i < length; ++i)
        if (!near(rig.sample(i), before.at(i)))
            QFAIL(qPrintable(QString("undo left sample %1 changed").arg(i)));
}

void EditViewTest::cutEditsAndPasteThem() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    QSignalSpy cutPasted(v, &SampleRendererEditor::cutPasted);
    QSignalSpy copied(v, &SampleRendererEditor::editCopied);
    v->setFreeformSelection(8820, 17640);
    rig.effect("Reverse")->trigger();
    v->slotCut();
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("cut edit"));
    QVERIFY(v->items().isEmpty());
    QCOMPARE(copied.count(), 1);
    QVERIFY(near(rig.sample(8820), sourceSample(8820)));

    move(v, QPoint(600, 150), Qt::NoButton);
    v->slotPaste();
    QCOMPARE(cutPasted.count(), 1);
    QCOMPARE(v->items().size(), 1);
    QVERIFY(near(rig.sample(26460), sourceSample(17640)));
    // A cut is pasted once.
    const int count = rig.stack.count();
    v->slotPaste();
    QCOMPARE(rig.stack.count(), count);
}

void EditViewTest::deleteRegionFollowsSlicePointsEditsAndTrim() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    Trevant *slicer = rig.slicer.get();
    for (int p : {500, 1000, 1500, 2500})
        slicer->addSlicePoint(p);
    v->createEdit(TypeFadeIn, -1, 500, 1500);
    v->createEdit(TypeGain, -1, 2500, 3000);
    v->createEdit(TypeMute, -1, 1200, 1800);
    v->createEdit(TypeReverse, -1, 1500, 2500);
    v->createEdit(TypeDuplicate, -1, 400, 5000); // reaches over the whole region
    const AudioEditPtr fade = onlyEdit(rig, TypeFadeIn);
    const AudioEditPtr gain = onlyEdit(rig, TypeGain);
    const AudioEditPtr mute = onlyEdit(rig, TypeMute);
    const AudioEditPtr reverse = onlyEdit(rig, TypeReverse);
    const AudioEditPtr duplicate = onlyEdit(rig, TypeDuplicate);
    const int steps = rig.stack.count();

    QSignalSpy cleared(v, &SampleRendererEditor::freeformSelectionCleared);
    v->setFreeformSelection(1000, 2000);
    QTest::keyClick(v, Qt::Key_Delete);
    QCOMPARE(rig.stack.count(), steps + 1);
    QCOMPARE(rig.stack.text(steps), QString("delete region"));
    QVERIFY(!v->hasFreeformSelection());
    QVERIFY(cleared.count() >= 1);

    QCOMPARE(slicer->slicePoints(), QList<int>({500, 1500}));
    QCOMPARE(fade->endSample(), 998);
    QCOMPARE(gain->startSample(), 1500);
    QCOMPARE(gain->endSample(), 2000);
    QVERIFY(!rig.cache()->edits().contains(mute));
    QCOMPARE(reverse->startSample(), 1002);
    QCOMPARE(reverse->endSample(), 1500);
    // The duplicate is cut in two: before the region, and after it, moved back.
    QCOMPARE(duplicate->startSample(), 400);
    QCOMPARE(duplicate->endSample(), 998);
    const QVector<AudioEditPtr> edits = rig.cache()->edits();
    QVERIFY(std::any_of(edits.begin(), edits.end(), [&](const AudioEditPtr &edit) {
        return edit->type() == TypeDuplicate && edit->startSample() == 1002 && edit->endSample() == 4000;
    }));
    QCOMPARE(rig.loop()->length(), kLength - 1000);
    QCOMPARE(slicer->trimEnd(), kLength - 1000);
    QVERIFY(v->viewEnd() <= kLength - 1000);
    // Outside every edit, the audio after the region has closed up.
    QVERIFY(near(rig.sample(5000), sourceSample(6000)));

    rig.stack.undo();
    QCOMPARE(slicer->slicePoints(), QList<int>({500, 1000, 1500, 2500}));
    QCOMPARE(fade->endSample(), 1500);
    QCOMPARE(gain->startSample(), 2500);
    QVERIFY(rig.cache()->edits().contains(mute));
    QCOMPARE(reverse->startSample(), 1500);
    QCOMPARE(reverse->endSample(), 2500);
    QCOMPARE(duplicate->endSample(), 5000);
    QCOMPARE(rig.loop()->length(), kLength);
    QCOMPARE(slicer->trimEnd(), kLength);
    QVERIFY(near(rig.sample(6000), sourceSample(6000)));

    // A trim start after the region moves back with the audio.
    rig.stack.clear();
    slicer->setTrimStart(3000);
    v->deleteRegion(1000, 2000);
    QCOMPARE(slicer->trimStart(), 2000);
}

void EditViewTest::deletesMergeAndUndoRestoresLength() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->setFreeformSelection(1000, 2000);
    v->slotDelete();
    QCOMPARE(rig.loop()->length(), kLength - 1000);
    QVERIFY(near(rig.sample(1000), sourceSample(2000)));
    v->setFreeformSelection(500, 1500);
    v->slotDelete();
    QCOMPARE(rig.loop()->length(), kLength - 2000);
    QVector<AudioEditPtr> deletes;
    for (const AudioEditPtr &edit : rig.cache()->edits())
        if (edit->type() == TypeDelete)
            deletes.append(edit);
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first()->startSample(), 500);
    QCOMPARE(deletes.first().objectCast<AudioEditDelete>()->deleteEndSample(), 2500);
    QVERIFY(near(rig.sample(499), sourceSample(499)));
    QVERIFY(near(rig.sample(500), sourceSample(2500)));

    rig.stack.undo();
    QCOMPARE(rig.loop()->length(), kLength - 1000);
    QVERIFY(near(rig.sample(1000), sourceSample(2000)));
    rig.stack.undo();
    QCOMPARE(rig.loop()->length(), kLength);
    QVERIFY(near(rig.sample(1000), sourceSample(1000)));
    rig.stack.redo();
    rig.stack.redo();
    QCOMPARE(rig.loop()->length(), kLength - 2000);

    // A Reverse over the closed gap plays what is heard there backwards, the deleted audio
    // left out, in one step.
    const int steps = rig.stack.count();
    const int items = v->items().size();
    v->setFreeformSelection(200, 800);
    rig.effect("Reverse")->trigger();
    QCOMPARE(rig.stack.count(), steps + 1);
    QCOMPARE(rig.stack.text(steps), QString("add Reverse"));
    QCOMPARE(v->items().size(), items + 2);
    for (int i : {200, 400, 498, 504, 700, 798}) {
        const int heard = 1000 - i; // where the reversed sample was heard before
        QVERIFY2(near(rig.sample(i), sourceSample(heard < 500 ? heard : heard + 2000)), qPrintable(QString::number(i)));
    }
    rig.stack.undo();
    QCOMPARE(v->items().size(), items);
    QVERIFY(near(rig.sample(700), sourceSample(2700)));
}

// A Delete or Mute puts every edit in order of start. Where that changes how two stacked
// edits combine, what plays follows at once, a redo plays what the edit first played, and
// an undo brings back the sound from before it.
void EditViewTest::reorderedEditsRenderAndUndoExactly() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    // The tail of the loop faded out, then the faded tail reversed: it swells in.
    v->setFreeformSelection(kLength - 400, kLength);
    v->slotFadeOut();
    v->setFreeformSelection(kLength - 1000, kLength);
    v->slotReverse();
    auto tail = [&rig](int length) {
        QVector<float> samples;
        for (int i = length - 1000; i < length; ++i)
            samples.append(rig.sample(i));
        return samples;
    };
    auto fresh = [&rig, &tail]() {
        const int length = rig.loop()->length();
        rig.cache()->markSamplesAsDirty(0, length);
        return tail(length);
    };
    const QVector<float> before = tail(kLength);
    QCOMPARE(before, fresh());

    struct Case {
        const char *name;
        int start, end, lengthAfter;
        void (SampleRendererEditor::*slot)();
    };
    const Case cases[] = {{"mute", 100, 300, kLength, &SampleRendererEditor::slotMute},
                          {"delete", 0, 3000, kLength - 3000, &SampleRendererEditor::slotDelete}};
    for (const Case &c : cases) {
        const int steps = rig.stack.index();
        v->setFreeformSelection(c.start, c.end);
        (v->*c.slot)();
        QCOMPARE(rig.stack.index(), steps + 1);
        QCOMPARE(rig.loop()->length(), c.lengthAfter);
        const QVector<float> after = tail(c.lengthAfter);
        QVERIFY2(after == fresh(), c.name);
        rig.stack.undo();
        QCOMPARE(rig.loop()->length(), kLength);
        QVERIFY2(tail(kLength) == before, c.name);
        QVERIFY2(fresh() == before, c.name);
        rig.stack.redo();
        QVERIFY2(tail(c.lengthAfter) == after, c.name);
        rig.stack.undo();
    }
    // The items are hit and drawn in the order the cache applies the edits.
    const QVector<AudioEditPtr> edits = rig.cache()->edits();
    QCOMPARE(v->items().size(), edits.size());
    for (int k = 0; k < edits.size(); ++k)
        QCOMPARE(v->items().at(k)->edit(), edits.at(k));
}

void EditViewTest::trimToSelection() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    rig.slicer->addSlicePoint(12000);
    v->setFreeformSelection(8820, 17640);
    rig.effect("Trim to Selection")->trigger();
    QCOMPARE(rig.stack.count(), 1);
    QCOMPARE(rig.stack.text(0), QString("trim to selection"));
    QCOMPARE(rig.loop()->length(), 8820);
    QCOMPARE(rig.slicer->trimStart(), 0);
    QCOMPARE(rig.slicer->trimEnd(), 8820);
    QCOMPARE(rig.slicer->slicePoints(), QList<int>({12000 - 8820}));
    QCOMPARE(v->viewEnd(), 8820);
    for (int k : {0, 1, 100, 8818})
        QVERIFY(near(rig.sample(k), sourceSample(8820 + k)));
    rig.stack.undo();
    QCOMPARE(rig.loop()->length(), kLength);
    QCOMPARE(rig.slicer->slicePoints(), QList<int>({12000}));
    QVERIFY(near(rig.sample(0), sourceSample(0)));
}

void EditViewTest::busyCacheRefusesRegionDelete() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    // Another thread holds the decoded audio (as the reader does while it fills a chunk).
    std::atomic<bool> held{false};
    std::atomic<bool> done{false};
    AudioCachePtr source = rig.cache()->sourceCache();
    std::thread holder([&]() {
        source->tryLock();
        held = true;
        while (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        source->unlock();
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    v->setFreeformSelection(1000, 2000);
    v->slotDelete();
    v->slotTrimToSelection();
    v->deleteRegion(1000, 2000);
    done = true;
    holder.join();
    QCOMPARE(rig.stack.count(), 0);
    QCOMPARE(rig.loop()->length(), kLength);
    // Free again, the same delete goes through.
    v->slotDelete();
    QCOMPARE(rig.loop()->length(), kLength - 1000);
}

void EditViewTest::raiseAndLowerFollowTheCache() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    v->createEdit(TypeFadeIn, -1, 1000, 9000);
    v->createEdit(TypeGain, -1, 5000, 12000);
    const AudioEditPtr fade = onlyEdit(rig, TypeFadeIn);
    const AudioEditPtr gain = onlyEdit(rig, TypeGain);
    QCOMPARE(rig.cache()->edits(), QVector<AudioEditPtr>({gain, fade}));
    QCOMPARE(v->items().first()->edit(), gain);
    QCOMPARE(v->selectedItems().size(), 1);
    const int steps = rig.stack.count();
    v->raiseSelectedEdits();
    QCOMPARE(rig.cache()->edits(), QVector<AudioEditPtr>({fade, gain}));
    QCOMPARE(v->items().first()->edit(), fade);
    QCOMPARE(v->items().last()->edit(), gain);
    v->raiseSelectedEdits(); // already last
    QCOMPARE(rig.cache()->edits(), QVector<AudioEditPtr>({fade, gain}));
    v->lowerSelectedEdits();
    QCOMPARE(rig.cache()->edits(), QVector<AudioEditPtr>({gain, fade}));
    QCOMPARE(v->items().first()->edit(), gain);
    QCOMPARE(rig.stack.count(), steps);
}

void EditViewTest::rightClickSelectsGapAndOpensMenu() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    rig.slicer->addSlicePoint(11024);
    v->createEdit(TypeFadeIn, -1, 22050, 30000);
    v->selectNone();
    QSignalSpy created(v, &SampleRendererEditor::freeformSelectionCreated);
    press(v, QPoint(400, 150), Qt::RightButton);
    QCOMPARE(v->selectionStart(), 11024);
    QCOMPARE(v->selectionEnd(), 22050);
    QCOMPARE(created.count(), 1);
    QVERIFY(v->contextMenu()->isVisible());
    QStringList texts;
    for (QAction *action : v->contextMenu()->actions())
        texts << (action->isSeparator() ? QString("-") : action->text());
    QCOMPARE(texts, QStringList({"Fade In", "Fade Out", "Reverse", "Duplicate", "Gain", "Normalize", "Mute",
                                 "Trim to Selection", "-", "Cut", "Copy", "Paste", "Delete"}));
    QVERIFY(v->contextMenu()->actions().first()->isEnabled());
    v->contextMenu()->hide();

    // Past the last edit, the gap runs to the loop's end.
    v->selectNone();
    press(v, QPoint(900, 150), Qt::RightButton);
    v->contextMenu()->hide();
    QCOMPARE(v->selectionStart(), 30000);
    QCOMPARE(v->selectionEnd(), kLength);
}

void EditViewTest::keyboardAndSelectAll() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    QSignalSpy created(v, &SampleRendererEditor::freeformSelectionCreated);
    QSignalSpy cleared(v, &SampleRendererEditor::freeformSelectionCleared);
    QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(created.count(), 1);
    QCOMPARE(v->selectionStart(), 0);
    QCOMPARE(v->selectionEnd(), kLength);
    QTest::keyClick(v, Qt::Key_Escape);
    QVERIFY(!v->hasFreeformSelection());
    QCOMPARE(cleared.count(), 1);

    v->createEdit(TypeFadeIn, -1, 1000, 9000);
    v->createEdit(TypeGain, -1, 5000, 12000);
    v->selectNone();
    QSignalSpy selected(v, &SampleRendererEditor::itemSelected);
    QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(v->selectedItems().size(), 2);
    QTest::keyClick(v, Qt::Key_Backspace);
    QCOMPARE(rig.stack.text(rig.stack.count() - 1), QString("remove edits"));
    QVERIFY(v->items().isEmpty());
    rig.stack.undo();
    QCOMPARE(v->items().size(), 2);

    // Shift-click adds an item to the selection (above the gain's handle, which would take
    // the press); a plain click on a selected item keeps the selection.
    v->selectNone();
    press(v, QPoint(int(v->sampleToPixel(3000)), 60));
    release(v, QPoint(int(v->sampleToPixel(3000)), 60));
    QCOMPARE(v->selectedItems().size(), 1);
    press(v, QPoint(int(v->sampleToPixel(11000)), 60), Qt::LeftButton, Qt::ShiftModifier);
    release(v, QPoint(int(v->sampleToPixel(11000)), 60));
    QCOMPARE(v->selectedItems().size(), 2);
    // Both move together, as one undo step.
    const int steps = rig.stack.index();
    drag(v, QPoint(int(v->sampleToPixel(11000)), 60), QPoint(int(v->sampleToPixel(11000)) + 100, 60));
    QCOMPARE(rig.stack.index(), steps + 1);
    QCOMPARE(onlyEdit(rig, TypeFadeIn)->startSample(), 1000 + 4410);
    QCOMPARE(onlyEdit(rig, TypeGain)->startSample(), 5000 + 4410);
    rig.stack.undo();
    QCOMPARE(onlyEdit(rig, TypeFadeIn)->startSample(), 1000);
    QCOMPARE(onlyEdit(rig, TypeGain)->startSample(), 5000);
    // The loop's start stops the block as a whole: the edits keep their distance.
    drag(v, QPoint(int(v->sampleToPixel(11000)), 60), QPoint(-300, 60));
    QCOMPARE(onlyEdit(rig, TypeFadeIn)->startSample(), 0);
    QCOMPARE(onlyEdit(rig, TypeFadeIn)->endSample(), 8000);
    QCOMPARE(onlyEdit(rig, TypeGain)->startSample(), 4000);
    QCOMPARE(onlyEdit(rig, TypeGain)->endSample(), 11000);
}

void EditViewTest::deepZoomAndScrolling() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    // Snapping: the loop's start, a slice point within five pixels.
    rig.slicer->addSlicePoint(20000);
    QCOMPARE(v->snapSample(100), 0);
    QCOMPARE(v->snapSample(20000 + 3 * 44), 20000);
    QCOMPARE(v->snapSample(20000 + 7 * 44), 20000 + 7 * 44);
    QCOMPARE(v->snapSample(kLength - 50), kLength);
    QCOMPARE(v->snapSample(12345), 12344);

    // Fifty samples across a thousand pixels.
    v->setViewPosition(30000, 30050);
    drag(v, QPoint(100, 150), QPoint(600, 150));
    QVERIFY(v->hasFreeformSelection());
    QCOMPARE(v->selectionStart() % 2, 0);
    QVERIFY(v->selectionStart() >= 30000 && v->selectionEnd() <= 30050);
    rig.effect("Gain")->trigger();
    const AudioEditPtr edit = v->items().first()->edit();
    // The end handle keeps the edit at least one frame long however far in the view is.
    const int right = int(v->sampleToPixel(edit->endSample())) - 1;
    drag(v, QPoint(right, 150), QPoint(0, 150));
    QVERIFY(edit->endSample() > edit->startSample());
    QCOMPARE(edit->endSample() % 2, 0);

    // Dragging near the right edge scrolls the view and the edit follows.
    v->setViewPosition(0, 22050);
    const int mid = int(v->sampleToPixel((edit->startSample() + edit->endSample()) / 2));
    QSignalSpy viewChanged(v, &SampleRenderer::viewChanged);
    press(v, QPoint(mid, 150));
    move(v, QPoint(mid + 20, 150));
    move(v, QPoint(995, 150));
    const int before = edit->startSample();
    v->scrollViewToMouse();
    v->scrollViewToMouse();
    QVERIFY(v->viewStart() > 0);
    QCOMPARE(viewChanged.count(), 2);
    QVERIFY(edit->startSample() > before);
    release(v, QPoint(995, 150));
    // Never past the loop's end.
    for (int k = 0; k < 200; ++k) {
        press(v, QPoint(int(v->sampleToPixel(edit->startSample())) + 2, 150));
        move(v, QPoint(999, 150));
        v->scrollViewToMouse();
        release(v, QPoint(999, 150));
        if (v->viewEnd() == kLength)
            break;
    }
    QCOMPARE(v->viewEnd(), kLength);
    QVERIFY(edit->endSample() <= kLength);
}

void EditViewTest::screenshots() {
    Rig rig(900);
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    rig.slicer->addSlicePoint(11024);
    rig.slicer->addSlicePoint(33076);
    v->createEdit(TypeFadeIn, -1, 1000, 9000);
    v->createEdit(TypeGain, -1, 12000, 22000);
    v->setFreeformSelection(24000, 31000);
    rig.effect("New Group")->trigger();
    press(v, QPoint(int(v->sampleToPixel(27000)), 150), Qt::RightButton);
    rig.effect("Reverse")->trigger();
    rig.effect("Mute")->trigger();
    v->contextMenu()->hide();
    v->createEdit(TypeNormalize, -1, 34000, 40000);
    v->setFreeformSelection(41000, 43000);
    QVERIFY(rig.settle());
    QTest::qWait(50);
    const QImage shot = v->grab().toImage();
    QVERIFY(shot.save(QStringLiteral("/tmp/editview_items.png")));
    QCOMPARE(shot.width(), 900);
    // The selected Normalize is drawn opaque in its colour below its header.
    const int x = int(v->sampleToPixel(37000));
    QCOMPARE(QColor(shot.pixel(x, 200)).rgb(), QColor(45, 150, 202).rgb());
    // Slice points are red lines over the full height.
    const int sx = int(std::lround(v->sampleToPixel(11024)));
    bool red = false;
    for (int dx = -1; dx <= 1; ++dx)
        red = red || QColor(shot.pixel(sx + dx, 5)) == QColor(200, 0, 0);
    QVERIFY(red);

    // Zoomed in, with items running off both edges and a folded group member.
    for (AudioEditItem *item : v->items())
        if (auto *group = qobject_cast<AudioEditItemGroup *>(item))
            group->itemExpanded(group->memberItems().last());
    v->selectNone();
    v->setViewPosition(20000, 26000);
    QTest::qWait(50);
    const QImage zoomed = v->grab().toImage();
    QVERIFY(zoomed.save(QStringLiteral("/tmp/editview_zoomed.png")));
    QCOMPARE(zoomed.width(), 900);
}

// Select All and Delete empty the loop: the view shows the empty state, not the last
// waveform it drew.
void EditViewTest::deletingEverythingShowsTheEmptyLoop() {
    Rig rig;
    QVERIFY(rig.load(m_loop));
    SampleRendererEditor *v = rig.view.get();
    QVERIFY(QTest::qWaitForWindowExposed(v));
    // Whether every column of the middle band looks alike, as it does with no waveform.
    auto uniform = [v] {
        const QImage image = v->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        for (int y = image.height() / 4; y < 3 * image.height() / 4; ++y)
            for (int x = 1; x < image.width(); ++x)
                if (image.pixel(x, y) != image.pixel(0, y))
                    return false;
        return true;
    };
    QVERIFY(rig.settle());
    QVERIFY(!uniform());
    v->setFocus();
    QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(v, Qt::Key_Delete);
    QVERIFY(rig.settle());
    QCOMPARE(rig.loop()->length(), 0);
    QVERIFY(uniform());
    rig.stack.undo();
    QVERIFY(rig.settle());
    QCOMPARE(rig.loop()->length(), kLength);
    QVERIFY(!uniform());
}

