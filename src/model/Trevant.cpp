#include "Trevant.h"

#include "Settings.h"
#include "TempoDetection.h"

#include <QMutexLocker>
#include <algorithm>
#include <cmath>

Trevant::Trevant(QObject *parent) : QObject(parent) {}

Trevant::~Trevant() = default;

void Trevant::setTempoDetection(TempoDetection *detection) {
    if (detection == m_pBpmDetector)
        return;
    if (m_pBpmDetector) {
        m_pBpmDetector->cancel();
        delete m_pBpmDetector;
    }
    m_pBpmDetector = detection;
    if (detection)
        detection->setParent(this);
}

bool Trevant::hasAudio() {
    // A loop whose file could not be read stays current with length 0; it takes part in
    // no playback and no slicing.
    return m_pSlice && m_pSlice->length() > 0;
}

SlicePtr Trevant::currentSlice() {
    QMutexLocker locker(&m_lock);
    return m_pSlice;
}

QList<int> Trevant::slicePoints() {
    QMutexLocker locker(&m_lock);
    return m_slicePoints;
}

int Trevant::trimStart() {
    QMutexLocker locker(&m_lock);
    return m_iTrimStart;
}

int Trevant::trimEnd() {
    QMutexLocker locker(&m_lock);
    return m_iTrimEnd;
}

bool Trevant::slotLoadLoop(QString filename) {
    // The new loop (reader, cache, preallocation) is built before the slicer lock is
    // taken, so the sound-card thread keeps rendering the old loop meanwhile.
    if (m_pBpmDetector)
        m_pBpmDetector->cancel();
    SlicePtr fresh = Slice::create(filename, engineSampleRate());
    SlicePtr old;
    {
        QMutexLocker locker(&m_lock);
        m_slicePoints.clear();
        old = m_pSlice;
        m_pSlice = fresh;
        m_iTrimStart = 0;
        m_iTrimEnd = fresh->length();
        m_iLength = fresh->length();
        m_parkedPoints.clear();
        m_lengthSteps.clear();
    }
    // Once more after the swap, and outside the slicer lock: a loop the cancel drops may be
    // freed right there, and the sound-card thread must not wait for that.
    if (m_pBpmDetector)
        m_pBpmDetector->cancel();
    // A replaced loop that other holders keep alive no longer talks to the slicer.
    if (old)
        disconnect(old.data(), nullptr, this, nullptr);
    connect(fresh.data(), &Slice::loadingComplete, this, &Trevant::calculateSliceBpm);
    const bool loaded = fresh->length() != 0;
    if (loaded) {
        connect(fresh.data(), &Slice::loopChanged, this, &Trevant::loopChanged);
        connect(fresh.data(), &Slice::lengthChanged, this, &Trevant::followLoopLength);
        emit sliceLoaded(fresh.data());
    }
    old.reset(); // the old loop is freed here, on the GUI thread, when this was its last holder
    return loaded;
}

void Trevant::calculateSliceBpm() {
    // Analyse the loop whose fill has just finished, and only while it is still the
    // loaded one: a late signal from a replaced loop must not start on the new loop.
    Slice *finished = qobject_cast<Slice *>(sender());
    SlicePtr target;
    {
        QMutexLocker locker(&m_lock);
        if (!m_pSlice)
            return;
        if (finished && finished != m_pSlice.data())
            return;
        target = m_pSlice;
    }
    if (!target->isLoadingComplete() || !m_pBpmDetector)
        return;
    m_pBpmDetector->detect(target);
}

// The trim setters change the loop's region after the slicer lock is released: its
// loopChanged runs window slots (see playableLoop).
void Trevant::setTrimStart(int position) {
    SlicePtr follows;
    {
        QMutexLocker locker(&m_lock);
        position &= ~1;
        if (m_pSlice)
            position = std::max(0, std::min(position, m_pSlice->length() & ~1));
        if (m_pSlice && m_pSlice->loopStart() == m_iTrimStart)
            follows = m_pSlice;
        m_iTrimStart = position;
    }
    if (follows)
        follows->setLoopStart(position);
    emit trimPointsChanged();
}

void Trevant::setTrimEnd(int position) {
    SlicePtr follows;
    {
        QMutexLocker locker(&m_lock);
        if (m_pSlice)
            position = std::max(0, std::min(position, m_pSlice->length()));
        if (m_pSlice && m_pSlice->loopEnd() == m_iTrimEnd)
            follows = m_pSlice;
        m_iTrimEnd = position;
    }
    if (follows)
        follows->setLoopEnd(position);
    emit trimPointsChanged();
}

void Trevant::restoreLoop(int start, int end) {
    const SlicePtr loop = currentSlice();
    if (loop && (loop->loopStart() != start || loop->loopEnd() != end))
        loop->setLoop(start, end);
}

void Trevant::followLoopLength() {
    bool trimsMoved = false;
    bool pointsMoved = false;
    // The loop region moves after the lock is released, as in the transport (see
    // playableLoop): its signal runs window slots, and the sound card waits on this lock.
    SlicePtr loopMoves;
    int loopStart = 0, loopEnd = 0;
    {
        QMutexLocker locker(&m_lock);
        // A late signal of a replaced loop changes nothing here.
        Slice *changed = qobject_cast<Slice *>(sender());
        if (!m_pSlice || (changed && changed != m_pSlice.data()))
            return;
        const int oldLength = m_iLength;
        const int newLength = m_pSlice->length();
        if (newLength == oldLength)
            return;
        m_iLength = newLength;

        const int now[4] = {m_iTrimStart, m_iTrimEnd, m_pSlice->loopStart(), m_pSlice->loopEnd()};
        int next[4];
        const bool reverses = !m_lengthSteps.isEmpty() && m_lengthSteps.last().toLength == oldLength &&
                              m_lengthSteps.last().fromLength == newLength &&
                              std::equal(now, now + 4, m_lengthSteps.last().after);
        if (reverses) {
            std::copy(m_lengthSteps.last().before, m_lengthSteps.last().before + 4, next);
            m_lengthSteps.removeLast();
        } else {
            // A trim end or loop end on the old end stays on the end; the rest stays put
            // as long as it still lies inside the loop.
            next[1] = now[1] >= oldLength ? newLength : std::min(now[1], newLength);
            next[0] = std::min(now[0], next[1] & ~1);
            if (now[3] == now[1])
                next[3] = next[1];
            else
                next[3] = now[3] >= oldLength ? newLength : std::min(now[3], newLength);
            next[2] = std::min(now[2], next[3] & ~1);
            LengthStep step{oldLength, newLength, {}, {}};
            std::copy(now, now + 4, step.before);
            std::copy(next, next + 4, step.after);
            m_lengthSteps.append(step);
        }
        trimsMoved = next[0] != now[0] || next[1] != now[1];
        m_iTrimStart = next[0];
        m_iTrimEnd = next[1];
        if (next[2] != now[2] || next[3] != now[3]) {
            loopMoves = m_pSlice;
            loopStart = next[2];
            loopEnd = next[3];
        }

        // Points past the end wait for the audio under them to come back.
        QList<int> kept;
        QList<int> parked;
        for (int p : qAsConst(m_slicePoints))
            (p < newLength ? kept : parked).append(p);
        for (int p : qAsConst(m_parkedPoints))
            (p < newLength ? kept : parked).append(p);
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
        pointsMoved = kept != m_slicePoints;
        m_slicePoints.swap(kept);
        m_parkedPoints.swap(parked);
    }
    if (loopMoves)
        loopMoves->setLoop(loopStart, loopEnd);
    if (trimsMoved)
        emit trimPointsChanged();
    if (pointsMoved)
        emit slicePointsChanged();
}

int Trevant::loopStart() {
    QMutexLocker locker(&m_lock);
    return m_pSlice ? m_pSlice->loopStart() : 0;
}

int Trevant::loopEnd() {
    QMutexLocker locker(&m_lock);
    return m_pSlice ? m_pSlice->loopEnd() : 0;
}

bool Trevant::isInsideLoop(int position) {
    QMutexLocker locker(&m_lock);
    return m_pSlice && m_pSlice->loopStart() <= position && position <= m_pSlice->loopEnd();
}

int Trevant::sampleRate() {
    QMutexLocker locker(&m_lock);
    return m_pSlice ? m_pSlice->fileSampleRate() : 44100;
}

int Trevant::sliceStartAt(int position, int tolerance) {
    QMutexLocker locker(&m_lock);
    if (tolerance > 0) {
        int best = 0;
        qint64 bestDistance = -1;
        for (int point : qAsConst(m_slicePoints)) {
            const qint64 d = std::llabs(qint64(point) - position);
            if (bestDistance < 0 || d < bestDistance) {
                bestDistance = d;
                best = point;
            }
        }
        if (bestDistance < 0 || bestDistance > tolerance)
            return 0;
        return best;
    }
    for (int i = 0; i < m_slicePoints.size(); ++i) {
        if (m_slicePoints.at(i) > position) {
            if (i == 0)
                return m_iTrimStart;
            return std::max(m_iTrimStart, m_slicePoints.at(i - 1));
        }
    }
    return m_slicePoints.isEmpty() ? m_iTrimStart : m_slicePoints.last();
}

int Trevant::sliceEndAt(int position) {
    QMutexLocker locker(&m_lock);
    const auto it = std::upper_bound(m_slicePoints.cbegin(), m_slicePoints.cend(), position);
    return it != m_slicePoints.cend() ? *it : m_iTrimEnd;
}

void Trevant::setSlicePoints(const QList<int> &points) {
    // Lists from files may come unsorted or with repeats; the boundary queries and the
    // undo commands rely on a sorted list without them.
    QList<int> sorted = points;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    {
        QMutexLocker locker(&m_lock);
        if (m_slicePoints != sorted)
            m_slicePoints.swap(sorted);
    }
    emit slicePointsChanged();
}

bool Trevant::hasSlicePoint(int position) {
    QMutexLocker locker(&m_lock);
    return std::binary_search(m_slicePoints.cbegin(), m_slicePoints.cend(), position);
}

void Trevant::restoreSlicePoint(int position) {
    {
        QMutexLocker locker(&m_lock);
        const auto it = std::lower_bound(m_slicePoints.begin(), m_slicePoints.end(), position);
        if (it != m_slicePoints.end() && *it == position)
            return;
        m_slicePoints.insert(it, position);
    }
    emit slicePointsChanged();
}

void Trevant::withdrawSlicePoint(int position) {
    {
        QMutexLocker locker(&m_lock);
        m_slicePoints.removeAll(position);
    }
    emit slicePointsChanged();
}

void Trevant::addSlicePoint(int position) {
    {
        QMutexLocker locker(&m_lock);
        position &= ~1;
        if (!m_slicePoints.contains(position))
            m_slicePoints.append(position);
        std::sort(m_slicePoints.begin(), m_slicePoints.end());
    }
    emit slicePointsChanged();
}

void Trevant::removeSlicePoint(int position) {
    SlicePtr loop;
    {
        QMutexLocker locker(&m_lock);
        position &= ~1;
        m_slicePoints.removeAll(position);
        loop = m_pSlice;
    }
    // A loop region that ended on the point follows it, outside the lock (see playableLoop).
    if (loop) {
        if (position == loop->loopStart())
            loop->setLoopStart(sliceStartAt(position, 0));
        if (position == loop->loopEnd()) {
            int e = sliceStartAt(position, 0);
            if (e == loop->loopStart())
                e = sliceEndAt(position);
            loop->setLoopEnd(e);
        }
    }
    emit slicePointsChanged();
}

void Trevant::moveSlicePoint(int from, int to) {
    SlicePtr loop;
    {
        QMutexLocker locker(&m_lock);
        const int index = m_slicePoints.indexOf(from);
        if (index < 0)
            return;
        // A point dropped onto another merges with it: two equal points would make an
        // empty slice, and deleting that position would take both.
        if (to != from && m_slicePoints.contains(to))
            m_slicePoints.removeAt(index);
        else
            m_slicePoints[index] = to;
        std::sort(m_slicePoints.begin(), m_slicePoints.end());
        loop = m_pSlice;
    }
    if (loop) {
        const bool wasStart = from == loop->loopStart();
        const bool wasEnd = from == loop->loopEnd();
        if (wasStart)
            loop->setLoopStart(to);
        if (wasEnd)
            loop->setLoopEnd(to);
    }
    emit slicePointsChanged();
}

void Trevant::clearSlicing() {
    {
        QMutexLocker locker(&m_lock);
        if (m_pSlice && m_pSlice->loopMode() > 0) {
            // The points strictly inside the loop region go, the others stay. This is the
            // walk from the loop start from boundary to boundary, done in one pass, and it
            // also ends when the loop end is not itself a boundary.
            const int loopStart = m_pSlice->loopStart();
            const int loopEnd = m_pSlice->loopEnd();
            m_slicePoints.erase(std::remove_if(m_slicePoints.begin(), m_slicePoints.end(),
                                               [&](int p) { return p > loopStart && p < loopEnd; }),
                                m_slicePoints.end());
        } else {
            m_slicePoints.clear();
        }
    }
    emit slicePointsChanged();
}

void Trevant::sliceEvenly(unsigned slices) {
    SlicePtr slice;
    qint64 from;
    qint64 span;
    QList<int> points;
    {
        QMutexLocker locker(&m_lock);
        if (!hasAudio())
            return;
        slice = m_pSlice;
        if (m_pSlice->loopMode() <= 0) {
            from = m_iTrimStart;
            span = qint64(m_iTrimEnd) - m_iTrimStart;
        } else {
            // Slicing the loop region keeps the points outside it.
            points = m_slicePoints;
            from = m_pSlice->loopStart();
            span = qint64(m_pSlice->loopEnd()) - from;
        }
    }
    // Placed and snapped outside the slicer lock: the sound-card thread takes it for every
    // block, and snapping reads a search window of samples for every point. Only the GUI
    // thread changes the list, so the swap below replaces what was read above.
    const bool snap = snapsToZeroCrossings();
    QList<int> added;
    // 64-bit: k × span overflows 32 bits on long files.
    for (qint64 k = 1; k < qint64(slices); ++k) {
        const qint64 offset = k * span;
        const qint64 step = offset >= 0 ? offset / slices : -((-offset + slices - 1) / slices);
        const int position = int(from + step) & ~1;
        added.append(snap ? nearestZeroCrossing(slice.data(), position) & ~1 : position);
    }
    if (snap) {
        // Points closer together than a crossing's spacing all find the same crossing, and
        // a sample that is exactly zero counts as a crossing from either side, one frame
        // apart: they become one point, on the frame nearer zero, never a one-frame slice.
        // A point drawn onto the start or end of the sliced span would leave an empty one.
        std::sort(added.begin(), added.end());
        auto mono = [&slice](int i) { return std::fabs(slice->sampleAt(i) + slice->sampleAt(i + 1)); };
        QList<int> merged;
        for (int p : added) {
            if (p <= from || p >= from + span)
                continue;
            if (!merged.isEmpty() && p - merged.last() <= 2) {
                if (p != merged.last() && mono(p) < mono(merged.last()))
                    merged.last() = p;
                continue;
            }
            merged.append(p);
        }
        added.swap(merged);
    }
    points.append(added);
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    {
        QMutexLocker locker(&m_lock);
        if (m_pSlice != slice)
            return;
        m_slicePoints.swap(points);
    }
    emit slicePointsChanged();
}

void Trevant::sliceEveryStep(double stepSamples) {
    if (!std::isfinite(stepSamples))
        return;
    const qint64 step = qint64(stepSamples);
    if (step <= 0)
        return; // a step that truncates to nothing would never reach the end
    qint64 from;
    qint64 length;
    QList<int> merged;
    {
        QMutexLocker locker(&m_lock);
        if (!hasAudio())
            return;
        from = m_iTrimStart;
        length = m_pSlice->length();
        merged = m_slicePoints;
    }
    // Built and sorted once, outside the slicer lock (very small intervals make long lists
    // and the sound-card thread takes this lock); only the GUI thread changes the list.
    for (qint64 p = from + step; p < length; p += step)
        merged.append(int(p) & ~1);
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    {
        QMutexLocker locker(&m_lock);
        m_slicePoints.swap(merged);
    }
    emit slicePointsChanged();
}

void Trevant::sliceEveryBeats(double tempo, double beats) {
    if (!(tempo > 0.0))
        return;
    sliceEveryStep(2.0 * sampleRate() * (beats / tempo * 60.0));
}

void Trevant::sliceEveryBars(double tempo, unsigned numerator, unsigned denominator, double bars) {
    (void)denominator; // a bar is `numerator` beats whatever the note value
    if (!(tempo > 0.0))
        return;
    sliceEveryStep(2.0 * sampleRate() * (double(numerator) * bars / tempo * 60.0));
}

bool Trevant::snapsToZeroCrossings() {
    return Settings::instance().value(QStringLiteral("snap_to_zero_crossings")).toInt() != 0;
}

int Trevant::snapToZeroCrossing(int position) {
    position &= ~1;
    // The search reads the loop without the slicer lock (sampleAt takes none), so the
    // sound-card thread never waits for it; the loop is kept alive by the pointer.
    const SlicePtr slice = currentSlice();
    if (!slice || !snapsToZeroCrossings())
        return position;
    return nearestZeroCrossing(slice.data(), position);
}

int Trevant::nearestZeroCrossing(Slice *slice, int position) {
    const int len = slice->length() & ~1;
    if (position < 16 || position >= len - 16)
        return position;

    auto mono = [slice](int i) { return (slice->sampleAt(i) + slice->sampleAt(i + 1)) * 0.5f; };
    // A crossing of anything above 20 Hz lies within half its period, 25 ms, of any point.
    // The bound keeps a point on audio without crossings (a DC offset) where it was.
    const int window = std::max(2, 2 * (slice->fileSampleRate() * snapWindowMs / 1000));
    const qint64 forwardLimit = std::min<qint64>(qint64(len) - 2, qint64(position) + window);
    const qint64 backwardLimit = std::max<qint64>(0, qint64(position) - window);

    // Outward from the point, both sides in step, so the first crossing met is the nearest
    // and the work stays within the window; on equal distances the later frame wins.
    // A candidate is the earlier frame of the pair whose sign changes.
    for (qint64 distance = 0; distance <= window; distance += 2) {
        const qint64 forward = qint64(position) + distance;
        const bool forwardOpen = forward + 2 <= forwardLimit;
        if (forwardOpen && mono(int(forward)) * mono(int(forward + 2)) <= 0.0f)
            return int(forward);
        const qint64 backward = qint64(position) - distance;
        const bool backwardOpen = distance > 0 && backward >= backwardLimit;
        if (backwardOpen && mono(int(backward)) * mono(int(backward + 2)) <= 0.0f)
            return int(backward);
        if (!forwardOpen && !backwardOpen && distance > 0)
            break;
    }
    return position;
}

int Trevant::zeroCrossingAtOrBefore(Slice *loop, int position) {
    position &= ~1;
    if (!loop)
        return position;
    const int len = loop->length() & ~1;
    if (position < 2 || position + 2 >= len)
        return position;
    auto mono = [loop](int i) { return (loop->sampleAt(i) + loop->sampleAt(i + 1)) * 0.5f; };
    const int window = std::max(2, 2 * (loop->fileSampleRate() * snapBackWindowMs / 1000));
    const qint64 limit = std::max<qint64>(0, qint64(position) - window);
    // The crossing between n and n + 2 is taken at n + 2 when that is the sample that is
    // (nearly) zero, so a start that already sits on silence stays where it is.
    for (qint64 n = position; n - 2 >= limit; n -= 2) {
        const float here = mono(int(n));
        const float before = mono(int(n - 2));
        if (here == 0.0f)
            return int(n);
        if (before * here < 0.0f)
            return std::fabs(before) < std::fabs(here) ? int(n - 2) : int(n);
    }
    return position;
}

// The transport below reads the slicer's state under its lock and then works on the loop
// without it: the loop's signals run window slots, and the sound-card thread takes the
// slicer lock for every block. Only the GUI thread replaces the loop, so it stays current.
SlicePtr Trevant::playableLoop(int *trimStart, int *trimEnd) {
    QMutexLocker locker(&m_lock);
    if (!hasAudio())
        return SlicePtr();
    if (trimStart)
        *trimStart = m_iTrimStart;
    if (trimEnd)
        *trimEnd = m_iTrimEnd;
    return m_pSlice;
}

void Trevant::togglePlayback(bool on) {
    int trimStart = 0, trimEnd = 0;
    const SlicePtr loop = playableLoop(&trimStart, &trimEnd);
    if (!loop)
        return;
    if (!on) {
        loop->play(false, 0, 0);
        return;
    }
    if (loop->loopMode() != 2)
        loop->setLoop(trimStart, trimEnd);
    loop->play(true, loop->loopStart(), loop->loopEnd());
}

void Trevant::playFrom(int position) {
    int trimStart = 0, trimEnd = 0;
    const SlicePtr loop = playableLoop(&trimStart, &trimEnd);
    if (!loop)
        return;
    const int start = std::max(position, trimStart);
    const int end = std::min(trimEnd, sliceEndAt(start));
    if (start <= trimEnd)
        loop->play(true, start, end);
}

void Trevant::toggleLoopAt(int position) {
    const SlicePtr loop = playableLoop(nullptr, nullptr);
    if (!loop)
        return;
    const int playPos = loop->playPosition();
    const int s = sliceStartAt(position, 0);
    const int e = sliceEndAt(position);
    if (loop->loopMode() > 0 && s == loop->loopStart() && e == loop->loopEnd()) {
        loop->play(false, 0, 0);
        loop->setLoopMode(0);
        return;
    }
    loop->setLoop(s, e);
    loop->setLoopMode(2);
    if (loop->isPlaying() && (playPos < s || playPos > e))
        loop->play(true, loop->loopStart(), loop->loopEnd());
}

void Trevant::expandLoopTo(int position) {
    const SlicePtr loop = playableLoop(nullptr, nullptr);
    if (!loop)
        return;
    int s = loop->loopStart();
    int e = loop->loopEnd();
    if (e < position)
        e = sliceEndAt(position);
    else
        s = sliceStartAt(position, 0);
    loop->setLoop(s, e);
}

int Trevant::engineSampleRate() {
    QMutexLocker locker(&m_lock);
    return m_iEngineSampleRate;
}

void Trevant::setEngineSampleRate(int rate) {
    if (rate <= 0)
        return;
    SlicePtr slice;
    {
        QMutexLocker locker(&m_lock);
        m_iEngineSampleRate = rate;
        slice = m_pSlice;
    }
    // Outside the slicer lock: a new stretcher is built for the new rate.
    if (slice)
        slice->setEngineSampleRate(rate);
}

void Trevant::setEditMode(bool on) {
    // The editable cache is built outside the slicer lock (it preallocates a whole loop).
    SlicePtr slice = currentSlice();
    if (slice)
        slice->setEditMode(on);
}

void Trevant::render(float *buffer, int count) {
    QMutexLocker locker(&m_lock);
    if (m_pSlice)
        m_pSlice->render(buffer, count);
}

void Trevant::processMidiMessage(uint32_t message, int &baseNote) {
    if ((status(message) & 0xF0) != 0x90 || data2(message) == 0)
        return;
    QMutexLocker locker(&m_lock);
    if (!hasAudio())
        return;
    const int k = data1(message) - baseNote;
    if (k < 0)
        return;
    int d = 0;
    if (k >= 1 && m_slicePoints.size() >= k)
        d = m_slicePoints.at(k - 1);
    const int start = std::max(m_iTrimStart, d);
    const int end = sliceEndAt(start);
    if (start <= m_iTrimEnd)
        m_pSlice->playFromSoundCard(start, std::min(m_iTrimEnd, end));
}
