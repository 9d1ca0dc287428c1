#include "OnsetDetectorTest.h"

#include "DrumMidi.h"
#include "OnsetDetector.h"

#include <QtTest>
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 44100;

struct Loop {
    std::vector<float> stereo; // interleaved
    std::vector<qint64> hits;  // first frame of each attack
    qint64 frames() const { return qint64(stereo.size() / 2); }
};

// Hits at irregular, known frames over a bed of quiet noise: noise bursts like a snare
// or hi-hat and low tones like a kick, loud and soft, each starting at its frame with a
// sub-millisecond rise and decaying. Left and right differ so the downmix is exercised.
Loop makeLoop(const std::vector<double> &hitSeconds, const std::vector<float> &levels, double seconds,
              const std::vector<bool> &tones = {})
{
    Loop loop;
    const qint64 frames = qint64(seconds * kRate);
    std::vector<float> mono(size_t(frames), 0.0f);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (float &v : mono)
        v = 0.0005f * noise(rng);
    for (size_t i = 0; i < hitSeconds.size(); ++i) {
        const qint64 at = qint64(std::lround(hitSeconds[i] * kRate));
        loop.hits.push_back(at);
        const bool tone = tones.empty() ? i % 3 == 1 : tones[i];
        const double decay = tone ? 0.12 : 0.05;
        for (qint64 f = at; f < std::min(frames, at + qint64(0.4 * kRate)); ++f) {
            const double t = double(f - at) / kRate;
            const double rise = std::min(1.0, t / 0.0003);
            const double body = tone ? std::sin(2.0 * M_PI * (70.0 + 60.0 * std::exp(-t / 0.03)) * t) : noise(rng) * 0.5;
            mono[size_t(f)] += float(levels[i % levels.size()] * rise * std::exp(-t / decay) * body);
        }
    }
    loop.stereo.resize(size_t(frames) * 2);
    for (qint64 f = 0; f < frames; ++f) {
        loop.stereo[size_t(2 * f)] = mono[size_t(f)];
        loop.stereo[size_t(2 * f + 1)] = 0.8f * mono[size_t(f)];
    }
    return loop;
}

OnsetDetector::FrameReader readerFor(const std::vector<float> &interleaved, int channels)
{
    return [&interleaved, channels](qint64 frame, int count, float *out) {
        const qint64 total = qint64(interleaved.size()) / channels;
        const qint64 n = std::clamp<qint64>(total - frame, 0, count);
        std::copy(interleaved.begin() + frame * channels, interleaved.begin() + (frame + n) * channels, out);
        return int(n);
    };
}

OnsetAnalysis analyse(const Loop &loop)
{
    return OnsetDetector::analyse(readerFor(loop.stereo, 2), loop.frames(), 2, kRate);
}

// A bed of white noise at level (its RMS) for the given number of frames.
std::vector<float> hissBed(qint64 frames, float level, std::mt19937 &rng)
{
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> mono(static_cast<size_t>(frames));
    for (float &v : mono)
        v = level * noise(rng);
    return mono;
}

// A closed hat: differenced noise (nearly all of it at the top of the spectrum) that
// rises linearly over rise seconds (at once when 0), decays and lasts length seconds.
void addHat(std::vector<float> &mono, qint64 at, double level, double rise, double decay, double length, std::mt19937 &rng)
{
    std::normal_distribution<float> noise(0.0f, 1.0f);
    float last = 0.0f;
    for (qint64 f = at; f < std::min(qint64(mono.size()), at + qint64(length * kRate)); ++f) {
        const double t = double(f - at) / kRate;
        const float n = noise(rng);
        mono[size_t(f)] += float(level * (rise > 0.0 ? std::min(1.0, t / rise) : 1.0) * std::exp(-t / decay)) * (n - last);
        last = n;
    }
}

// A snare-like burst: white noise that rises linearly over rise seconds (at once when 0),
// decays and lasts length seconds.
void addBurst(std::vector<float> &mono, qint64 at, double level, double rise, double decay, double length, std::mt19937 &rng)
{
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (qint64 f = at; f < std::min(qint64(mono.size()), at + qint64(length * kRate)); ++f) {
        const double t = double(f - at) / kRate;
        mono[size_t(f)] += float(level * (rise > 0.0 ? std::min(1.0, t / rise) : 1.0) * std::exp(-t / decay)) * noise(rng);
    }
}

// Renders notes with fluidsynth (reverb on or off) and picks them at the default settings.
bool renderAndPick(const std::vector<DrumMidi::Hit> &notes, bool reverb, QVector<qint64> *starts, int *rate, qint64 *frames)
{
    QTemporaryDir dir;
    const QString midi = dir.filePath("notes.mid"), wav = dir.filePath("notes.wav");
    QFile file(midi);
    if (!file.open(QIODevice::WriteOnly) || file.write(DrumMidi::build(notes)) <= 0)
        return false;
    file.close();
    if (!DrumMidi::render(midi, wav, kRate, reverb)) {
        qWarning("fluidsynth and a General MIDI sound font are needed");
        return false;
    }
    std::vector<float> audio;
    int channels = 0;
    if (!DrumMidi::readSound(wav, &audio, &channels, rate) || channels <= 0)
        return false;
    *frames = qint64(audio.size()) / channels;
    *starts = OnsetDetector::pick(OnsetDetector::analyse(readerFor(audio, channels), *frames, channels, *rate),
                                  OnsetDetector::defaultSensitivity, OnsetDetector::defaultMinLengthMs, 0, *frames);
    return true;
}

const std::vector<double> kHitTimes{0.31, 0.52, 0.69, 1.013, 1.25, 1.38, 1.7, 1.96, 2.2, 2.42, 2.67, 2.91};

} // namespace

void OnsetDetectorTest::slicesStartAtOrJustBeforeEachHit()
{
    const Loop loop = makeLoop(kHitTimes, {0.8f, 0.5f, 0.25f, 0.12f}, 3.3);
    bool progressed = false;
    const OnsetAnalysis analysis = OnsetDetector::analyse(readerFor(loop.stereo, 2), loop.frames(), 2, kRate,
                                                          [&](double f) { progressed = progressed || f > 0.5; return true; });
    QVERIFY(progressed);
    const QVector<qint64> starts = OnsetDetector::pick(analysis, OnsetDetector::defaultSensitivity,
                                                       OnsetDetector::defaultMinLengthMs, 0, loop.frames());
    QCOMPARE(starts.size(), int(loop.hits.size()));
    for (int i = 0; i < starts.size(); ++i) {
        const qint64 hit = loop.hits[size_t(i)];
        // Never after the attack (that would cut the transient), and only a few ms before.
        QVERIFY2(starts[i] <= hit, qPrintable(QString("slice %1 starts %2 frames after its hit").arg(i).arg(starts[i] - hit)));
        QVERIFY2(hit - starts[i] <= qint64(0.004 * kRate),
                 qPrintable(QString("slice %1 starts %2 ms early").arg(i).arg(1000.0 * (hit - starts[i]) / kRate)));
    }

    // The same audio as one channel gives the same slices: the downmix does not move them.
    std::vector<float> mono(size_t(loop.frames()));
    for (qint64 f = 0; f < loop.frames(); ++f)
        mono[size_t(f)] = loop.stereo[size_t(2 * f)] * 0.9f;
    const OnsetAnalysis monoAnalysis = OnsetDetector::analyse(readerFor(mono, 1), loop.frames(), 1, kRate);
    QCOMPARE(OnsetDetector::pick(monoAnalysis, OnsetDetector::defaultSensitivity, OnsetDetector::defaultMinLengthMs, 0,
                                 loop.frames()).size(),
             starts.size());
}

void OnsetDetectorTest::softHatUnderATailStillStartsBeforeItsAttack()
{
    // A loud, dark, slowly decaying noise (a snare's tail) with a soft, bright tick (a
    // closed hat) a sixteenth later: in the broadband level the tick hardly shows, so a
    // slice placed from it alone starts late and cuts the tick's attack off.
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const double seconds = 2.4;
    const qint64 frames = qint64(seconds * kRate);
    std::vector<float> mono(size_t(frames), 0.0f);
    std::vector<qint64> ticks;
    for (double t = 0.2; t + 0.3 < seconds; t += 0.35) {
        const qint64 at = qint64(t * kRate), tick = at + qint64(0.086 * kRate);
        ticks.push_back(tick);
        float low = 0.0f;
        for (qint64 f = at; f < std::min(frames, at + qint64(0.3 * kRate)); ++f) {
            low = 0.9f * low + 0.1f * noise(rng);
            mono[size_t(f)] += float(2.0 * std::exp(-double(f - at) / (0.08 * kRate))) * low;
        }
        float last = 0.0f;
        for (qint64 f = tick; f < std::min(frames, tick + qint64(0.04 * kRate)); ++f) {
            const float n = noise(rng);
            mono[size_t(f)] += float(0.03 * std::exp(-double(f - tick) / (0.012 * kRate))) * (n - last);
            last = n;
        }
    }
    const OnsetAnalysis analysis = OnsetDetector::analyse(readerFor(mono, 1), frames, 1, kRate);
    const QVector<qint64> starts = OnsetDetector::pick(analysis, 100, OnsetDetector::defaultMinLengthMs, 0, frames);
    int found = 0;
    for (qint64 tick : ticks) {
        const auto near = std::find_if(starts.begin(), starts.end(), [&](qint64 s) { return std::llabs(s - tick) < kRate / 50; });
        if (near == starts.end())
            continue;
        ++found;
        QVERIFY2(*near <= tick + kRate / 1000,
                 qPrintable(QString("the slice of the tick at %1 s starts %2 ms late").arg(double(tick) / kRate).arg(1000.0 * (*near - tick) / kRate)));
    }
    QVERIFY(found >= int(ticks.size()) / 2);
}

// A loud snare, bright all the way up, on every beat, and a closed hat 15 dB under it a
// sixteenth later, still inside the snare's tail (with a loud hat on the off-beat and
// a kick after it, so the groove has its sixteenths). Over 21 ms the tail holds more in
// every band than the soft hat adds, so those hats are found only by short windows over
// the top of the spectrum (without them, 1 of the 12); at the default sensitivity each
// must get a slice that keeps its attack.
void OnsetDetectorTest::softHatsUnderALoudSnareAreFoundAtTheDefault()
{
    std::mt19937 rng(21);
    const double beat = 0.36, seconds = 0.2 + 12 * beat;
    const qint64 frames = qint64(seconds * kRate);
    std::vector<float> mono = hissBed(frames, 0.0003f, rng);
    auto hat = [&](qint64 at, float level) { addHat(mono, at, level, 0.0, 0.01, 0.05, rng); };
    std::vector<qint64> hits, softHats;
    for (int b = 0; b < 12; ++b) {
        const qint64 at = qint64((0.2 + b * beat) * kRate), sixteenth = qint64(beat / 4 * kRate);
        addBurst(mono, at, 0.7, 0.0, 0.035, 0.3, rng);
        hat(at + sixteenth, 0.09f);
        hat(at + 2 * sixteenth, 0.3f);
        for (qint64 f = at + 3 * sixteenth; f < std::min(frames, at + 4 * sixteenth); ++f) {
            const double t = double(f - at - 3 * sixteenth) / kRate;
            mono[size_t(f)] += float(0.6 * std::min(1.0, t / 0.0003) * std::exp(-t / 0.06) * std::sin(2.0 * M_PI * 60.0 * t));
        }
        hits.insert(hits.end(), {at, at + 2 * sixteenth, at + 3 * sixteenth});
        softHats.push_back(at + sixteenth);
    }
    const OnsetAnalysis analysis = OnsetDetector::analyse(readerFor(mono, 1), frames, 1, kRate);
    const QVector<qint64> starts = OnsetDetector::pick(analysis, OnsetDetector::defaultSensitivity,
                                                       OnsetDetector::defaultMinLengthMs, 0, frames);
    auto sliceAt = [&](qint64 hit) {
        return std::find_if(starts.begin(), starts.end(), [&](qint64 s) { return std::llabs(s - hit) < kRate / 50; });
    };
    int found = 0;
    for (qint64 h : softHats) {
        const auto near = sliceAt(h);
        if (near == starts.end())
            continue;
        ++found;
        QVERIFY2(*near <= h + kRate / 1000 && *near >= h - kRate / 100,
                 qPrintable(QString("the hat at %1 s starts %2 ms off").arg(double(h) / kRate).arg(1000.0 * (*near - h) / kRate)));
    }
    QVERIFY2(found == int(softHats.size()), qPrintable(QString("%1 of %2 soft hats found").arg(found).arg(softHats.size())));
    for (qint64 h : hits)
        QVERIFY(sliceAt(h) != starts.end());
}

// Hiss 40 dB under full scale, as on a worn tape, with soft hats whose edge takes six
// milliseconds to rise: they lift the hiss by only some 10 dB, so the start of their rise
// is under it, and a slice placed where they show cuts it off. Loud snares between them
// rise far out of the hiss; their slices must not start much before them either, or they
// carry what came before. (With one pre-roll for both, a hat's slice started after its
// rise began.)
void OnsetDetectorTest::faintHitsInHissStartBeforeTheirAttack()
{
    std::mt19937 rng(33);
    const double beat = 0.4, seconds = 0.3 + 10 * beat;
    const qint64 frames = qint64(seconds * kRate);
    std::vector<float> mono = hissBed(frames, 0.01f, rng);
    std::vector<qint64> soft, loud;
    for (int b = 0; b < 10; ++b) {
        const qint64 at = qint64((0.3 + b * beat) * kRate);
        const qint64 hat = at + qint64((0.2 + 0.004 * b) * kRate);
        addHat(mono, hat, 0.04, 0.006, 0.015, 0.06, rng);
        addBurst(mono, at, 0.8, 0.0003, 0.03, 0.15, rng);
        soft.push_back(hat);
        loud.push_back(at);
    }
    const OnsetAnalysis analysis = OnsetDetector::analyse(readerFor(mono, 1), frames, 1, kRate);
    const QVector<qint64> starts = OnsetDetector::pick(analysis, OnsetDetector::defaultSensitivity,
                                                       OnsetDetector::defaultMinLengthMs, 0, frames);
    auto offsetMs = [&](qint64 hit) {
        const auto near = std::find_if(starts.begin(), starts.end(), [&](qint64 s) { return std::llabs(s - hit) < kRate / 50; });
        return near == starts.end() ? std::numeric_limits<double>::quiet_NaN() : 1000.0 * double(*near - hit) / kRate;
    };
    for (qint64 h : soft) {
        const double off = offsetMs(h);
        QVERIFY2(off <= 0.0 && off >= -5.0, qPrintable(QString("the hat at %1 s starts %2 ms off").arg(double(h) / kRate).arg(off)));
    }
    for (qint64 h : loud) {
        const double off = offsetMs(h);
        QVERIFY2(off <= 0.0 && off >= -1.5, qPrintable(QString("the snare at %1 s starts %2 ms off").arg(double(h) / kRate).arg(off)));
    }
}

// Four on the floor with an open hat ringing between the kicks, as house grooves go. A
// sampled open hat rings on a loop, and where the loop joins it flickers: here a short,
// bright burst 12 ms before each kick that stands some 5 dB over the ring and falls back. It belongs to the
// hat, not to the kick; a kick's slice placed at it carries 12 ms of the hat before the kick.
void OnsetDetectorTest::kicksUnderARingingHatStartAtTheKick() {
    std::mt19937 rng(47);
    const double beat = 0.48, seconds = 0.3 + 10 * beat;
    const qint64 frames = qint64(seconds * kRate);
    std::vector<float> mono = hissBed(frames, 0.0003f, rng);
    std::vector<qint64> kicks;
    const double ring = 0.14;
    for (int b = 0; b < 10; ++b) {
        const qint64 at = qint64((0.3 + b * beat) * kRate);
        const qint64 hat = at + qint64(beat / 2 * kRate);
        addHat(mono, hat, ring, 0.0, 0.25, beat, rng);
        if (b + 1 < 10) {
            const qint64 next = at + qint64(beat * kRate);
            addHat(mono, next - qint64(0.012 * kRate), 1.7 * ring * std::exp(-(beat / 2 - 0.012) / 0.25), 0.0,
                   0.0008, 0.0025, rng);
        }
        for (qint64 f = at; f < std::min(frames, at + qint64(0.3 * kRate)); ++f) {
            const double t = double(f - at) / kRate;
            mono[size_t(f)] += float(0.7 * std::min(1.0, t / 0.0003) * std::exp(-t / 0.08) *
                                     std::sin(2.0 * M_PI * (55.0 + 80.0 * std::exp(-t / 0.02)) * t));
        }
        addHat(mono, at, 0.3, 0.0, 0.002, 0.01, rng);
        kicks.push_back(at);
    }
    const OnsetAnalysis analysis = OnsetDetector::analyse(readerFor(mono, 1), frames, 1, kRate);
    const QVector<qint64> starts = OnsetDetector::pick(analysis, OnsetDetector::defaultSensitivity,
                                                       OnsetDetector::defaultMinLengthMs, 0, frames);
    for (qint64 k : kicks) {
        const auto near = std::find_if(starts.begin(), starts.end(),
                                       [&](qint64 s) { return std::llabs(s - k) < kRate / 50; });
        QVERIFY2(near != starts.end(),
                 qPrintable(QString("no slice at the kick at %1 s").arg(double(k) / kRate)));
        const double off = 1000.0 * double(*near - k) / kRate;
        QVERIFY2(off <= 0.0 && off >= -4.0,
                 qPrintable(QString("the kick at %1 s starts %2 ms off").arg(double(k) / kRate).arg(off)));
    }
}

// Six bars at 120 BPM. Bars 1-2 and 5-6 hold a groove of loud hits on the eighths and two
// syncopated sixteenths; bars 3-4 hold only soft strokes, each well clear of the others,
// some on sixteenths the groove uses and some between the sixteenths, where nothing in
// the groove falls (a reverb's churn or a release click would). The same sound at the
// same level in the same quiet: the strokes in the groove must rank above every one
// between. (By their spectra alone the bumps rank higher here.)
void OnsetDetectorTest::clicksAndLowSampleRatesAreCutAtTheirHits()
{
    // Clicks out of digital silence: every slice starts within 1.5 ms before its click,
    // not a window ahead of it where the short high-band function alone would put it.
    std::vector<float> clicks(size_t(2 * kRate), 0.0f);
    std::vector<qint64> hits;
    for (int k = 1; k < 8; ++k) {
        hits.push_back(qint64(k) * kRate / 4 + 37 * k);
        clicks[size_t(hits.back())] = 0.9f;
    }
    const QVector<qint64> clickStarts = OnsetDetector::pick(OnsetDetector::analyse(readerFor(clicks, 1), 2 * kRate, 1, kRate),
                                                            OnsetDetector::defaultSensitivity, OnsetDetector::defaultMinLengthMs,
                                                            0, 2 * kRate);
    QCOMPARE(clickStarts.size(), int(hits.size()));
    for (int i = 0; i < clickStarts.size(); ++i)
        QVERIFY2(clickStarts[i] <= hits[size_t(i)] && hits[size_t(i)] - clickStarts[i] <= qint64(0.0015 * kRate),
                 qPrintable(QString("click %1: start %2 frames before it").arg(i).arg(hits[size_t(i)] - clickStarts[i])));

    // At 8 kHz there is no band above 4 kHz to speak of: decaying low tones give their
    // hits and nothing between them.
    const int rate = 8000;
    std::vector<float> tones(size_t(2 * rate), 0.0f);
    for (int k = 0; k < 8; ++k)
        for (int f = 0; f < rate / 10; ++f) {
            const double t = double(f) / rate;
            tones[size_t(k * rate / 4 + f)] += float(0.8 * std::exp(-t * 30.0) * std::min(1.0, (rate / 10 - f) / (0.01 * rate)) *
                                                     std::sin(2.0 * M_PI * 100.0 * t));
        }
    const QVector<qint64> toneStarts = OnsetDetector::pick(OnsetDetector::analyse(readerFor(tones, 1), 2 * rate, 1, rate),
                                                           OnsetDetector::defaultSensitivity, OnsetDetector::defaultMinLengthMs,
                                                           0, 2 * rate);
    QCOMPARE(toneStarts.size(), 7);
    for (int i = 0; i < toneStarts.size(); ++i)
        QVERIFY(toneStarts[i] <= (i + 1) * rate / 4 && toneStarts[i] >= (i + 1) * rate / 4 - rate / 250);
}

// A fingered bass line from the General MIDI sound font, with the renderer's reverb: a part
// with almost nothing above 4 kHz, whose last note fades through the reverb into the
// file's last bit. There the short high-band function, rated against its own faint peaks,
// found dozens of hits.
void OnsetDetectorTest::aBassLineIsCutAtItsNotesNotInItsFadingTail()
{
    std::vector<DrumMidi::Hit> notes;
    const int pitches[] = {36, 38, 40, 41, 43, 45, 40, 38};
    double t = 0.25;
    for (int i = 0; i < 16; ++i) {
        DrumMidi::Hit n;
        n.seconds = t;
        n.channel = 0;
        n.program = 33;
        n.note = pitches[i % 8];
        n.velocity = 70 + (i * 13) % 40;
        n.lengthSeconds = (i % 3 == 0 ? 0.5 : 0.25) * 1.02;
        notes.push_back(n);
        t += i % 3 == 0 ? 0.5 : 0.25;
    }
    int rate = 0;
    qint64 frames = 0;
    QVector<qint64> starts;
    QVERIFY(renderAndPick(notes, true, &starts, &rate, &frames));
    QVERIFY(frames > qint64((t + 1.0) * rate)); // the tail is there
    // Every note starts a slice, at most ten milliseconds before the sound font's bass
    // begins (which is up to 25 ms after its note).
    for (const DrumMidi::Hit &n : notes) {
        const double at = DrumMidi::tickSeconds(n.seconds);
        QVERIFY2(std::any_of(starts.begin(), starts.end(),
                             [&](qint64 s) { return double(s) / rate > at - 0.01 && double(s) / rate < at + 0.03; }),
                 qPrintable(QString("no slice at the note at %1 s").arg(at)));
    }
    // Nothing once the reverb after the last note has fallen 40 dB under the notes (a
    // second later), nor in the file's last bit after that.
    const double lastEnd = DrumMidi::tickSeconds(notes.back().seconds) + notes.back().lengthSeconds;
    QVERIFY2(starts.last() < qint64((lastEnd + 1.2) * rate),
             qPrintable(QString("a slice at %1 s, in the tail").arg(double(starts.last()) / rate)));
}

// A sustained string pad: its looped sample shimmers at the top of the spectrum all along,
// and with no hit near, that shimmer is not a row of soft hats.
void OnsetDetectorTest::aStringPadIsCutAtItsChordsNotAtItsShimmer()
{
    std::vector<DrumMidi::Hit> notes;
    const int chord[] = {48, 55, 60, 64};
    const int chords = 8;
    for (int i = 0; i < chords; ++i)
        for (int pitch : chord) {
            DrumMidi::Hit n;
            n.seconds = 0.25 + 2.0 * i;
            n.channel = 0;
            n.program = 48; // String Ensemble 1
            n.note = pitch;
            n.velocity = 80;
            n.lengthSeconds = 1.95;
            notes.push_back(n);
        }
    int rate = 0;
    qint64 frames = 0;
    QVector<qint64> starts;
    QVERIFY(renderAndPick(notes, false, &starts, &rate, &frames));
    for (int i = 0; i < chords; ++i) {
        const double at = DrumMidi::tickSeconds(0.25 + 2.0 * i);
        QVERIFY2(std::any_of(starts.begin(), starts.end(),
                             [&](qint64 s) { return double(s) / rate > at - 0.01 && double(s) / rate < at + 0.15; }),
                 qPrintable(QString("no slice at the chord at %1 s").arg(at)));
    }
    // The looped sample's seam still makes a point or two a chord, but not a row of them.
    QVERIFY2(starts.size() <= 3 * chords, qPrintable(QString("%1 slices for %2 chords").arg(starts.size()).arg(chords)));
}

// What is far under the sounds before it is a tail; far under the sounds after it, it is
// the intro before a drop and keeps its hits.
void OnsetDetectorTest::aQuietIntroKeepsItsHitsUpToTheDrop()
{
    std::vector<double> times;
    std::vector<float> levels;
    for (int k = 0; k < 20; ++k) {
        times.push_back(0.25 + 0.4 * k);
        levels.push_back(k < 12 ? 0.004f : 0.8f); // 46 dB apart
    }
    const Loop loop = makeLoop(times, levels, 8.5, std::vector<bool>(times.size(), false));
    const QVector<qint64> starts = OnsetDetector::pick(analyse(loop), OnsetDetector::defaultSensitivity,
                                                       OnsetDetector::defaultMinLengthMs, 0, loop.frames());
    QCOMPARE(starts.size(), int(loop.hits.size()));
    for (int i = 0; i < starts.size(); ++i)
        QVERIFY(starts[i] <= loop.hits[size_t(i)] && loop.hits[size_t(i)] - starts[i] < qint64(0.005 * kRate));
}

void OnsetDetectorTest::softStrokesInTheGrooveOutrankEqualBumpsBetweenIt()
{
    const double sixteenth = 0.125;
    // The strokes 34 dB under the loud hits: quiet enough that none counts as a clear hit
    // itself, loud enough not to be taken for the churn of a loud sound's tail.
    const float kLoudLevel = 0.1f;
    const float kSoftLevel = 0.002f;
    std::vector<double> times;
    std::vector<float> levels;
    std::vector<bool> tones;
    std::vector<double> inGroove, between;
    auto add = [&](double t, float level, bool tone) {
        times.push_back(t);
        levels.push_back(level);
        tones.push_back(tone);
    };
    for (int bar = 0; bar < 6; ++bar) {
        const double start = 0.25 + bar * 16 * sixteenth;
        if (bar == 2 || bar == 3) {
            for (int step : {3, 11}) {
                add(start + step * sixteenth, kSoftLevel, false);
                inGroove.push_back(times.back());
            }
            for (int step : {7, 15}) {
                add(start + (step + 0.5) * sixteenth, kSoftLevel, false);
                between.push_back(times.back());
            }
            continue;
        }
        for (int step = 0; step < 16; ++step)
            if (step % 2 == 0 || step == 7 || step == 13)
                add(start + step * sixteenth, kLoudLevel, step % 8 == 0);
    }
    const Loop loop = makeLoop(times, levels, 0.25 + 6 * 16 * sixteenth + 0.5, tones);
    const OnsetAnalysis analysis = analyse(loop);
    auto strengthNear = [&](double seconds) {
        float s = -1.0f;
        for (const OnsetCandidate &c : analysis.candidates)
            if (std::abs(double(c.peakFrame) / kRate - seconds) < 0.012)
                s = std::max(s, c.strength);
        return s;
    };
    float weakestInGroove = 2.0f, strongestBetween = -1.0f;
    for (double t : inGroove)
        weakestInGroove = std::min(weakestInGroove, strengthNear(t));
    for (double t : between)
        strongestBetween = std::max(strongestBetween, strengthNear(t));
    QVERIFY2(strongestBetween > 0.0f, "the bumps between the sixteenths are candidates");
    QVERIFY2(weakestInGroove > strongestBetween,
             qPrintable(QString("in the groove %1, between %2").arg(weakestInGroove).arg(strongestBetween)));
}

void OnsetDetectorTest::raisingSensitivityOnlyAddsPoints()
{
    // Very soft hits among loud ones, so the sweep passes through many different sets.
    const Loop loop = makeLoop(kHitTimes, {0.9f, 0.02f, 0.3f, 0.005f, 0.1f}, 3.3);
    const OnsetAnalysis analysis = analyse(loop);
    QVector<qint64> previous;
    int distinctSets = 0;
    for (int s = 0; s <= 100; ++s) {
        const QVector<qint64> now = OnsetDetector::pick(analysis, s, OnsetDetector::defaultMinLengthMs, 0, loop.frames());
        QVERIFY(std::is_sorted(now.begin(), now.end()));
        for (qint64 p : previous)
            QVERIFY2(now.contains(p), qPrintable(QString("sensitivity %1 removed the point at %2").arg(s).arg(p)));
        if (now != previous)
            ++distinctSets;
        previous = now;
    }
    QVERIFY(distinctSets >= 3);
    QVERIFY(OnsetDetector::pick(analysis, 0, 30, 0, loop.frames()).size()
            < OnsetDetector::pick(analysis, 100, 30, 0, loop.frames()).size());

    // The low end keeps the loudest hits: loud kicks, not the softer hats between them,
    // whose bright edges change the spectrum more than a kick does.
    std::mt19937 rng(8);
    const qint64 beat = kRate / 2, frames = 8 * beat + kRate / 4;
    std::vector<float> mono = hissBed(frames, 0.0003f, rng);
    std::vector<qint64> kicks;
    for (int b = 0; b < 8; ++b) {
        const qint64 at = kRate / 8 + b * beat;
        kicks.push_back(at);
        for (qint64 f = at; f < at + qint64(0.3 * kRate); ++f) {
            const double t = double(f - at) / kRate;
            mono[size_t(f)] += float(0.9 * std::min(1.0, t / 0.0003) * std::exp(-t / 0.08) * std::sin(2.0 * M_PI * 55.0 * t));
        }
        addBurst(mono, at, 0.3, 0.0, 0.002, 0.01, rng); // the beater's click
        addHat(mono, at + beat / 2, 0.05, 0.0, 0.02, 0.1, rng);
    }
    const OnsetAnalysis drums = OnsetDetector::analyse(readerFor(mono, 1), frames, 1, kRate);
    const QVector<qint64> strongest = OnsetDetector::pick(drums, 0, OnsetDetector::defaultMinLengthMs, 0, frames);
    QVERIFY(!strongest.isEmpty());
    for (qint64 p : strongest)
        QVERIFY2(std::any_of(kicks.begin(), kicks.end(), [p](qint64 k) { return std::llabs(p - k) < kRate / 100; }),
                 qPrintable(QString("sensitivity 0 keeps the point at %1 s, not a kick").arg(double(p) / kRate)));
    QVERIFY(OnsetDetector::pick(drums, OnsetDetector::defaultSensitivity, OnsetDetector::defaultMinLengthMs, 0, frames).size()
            >= 15);
}

void OnsetDetectorTest::minimumLengthAndRegionAreRespected()
{
    const Loop loop = makeLoop(kHitTimes, {0.8f, 0.4f}, 3.3);
    const OnsetAnalysis analysis = analyse(loop);
    for (double minMs : {30.0, 150.0, 400.0}) {
        const qint64 minFrames = qint64(minMs * kRate / 1000.0);
        for (const auto &[from, to] : std::vector<std::pair<qint64, qint64>>{{0, loop.frames()},
                                                                             {loop.hits[2], loop.hits[9] + 2000}}) {
            const QVector<qint64> starts = OnsetDetector::pick(analysis, 100, minMs, from, to);
            QVERIFY(!starts.isEmpty());
            QVERIFY(starts.front() - from >= minFrames);
            QVERIFY(to - starts.back() >= minFrames);
            for (int i = 1; i < starts.size(); ++i)
                QVERIFY(starts[i] - starts[i - 1] >= minFrames);
        }
    }
    // Hits closer than the minimum length: the stronger one keeps its place.
    const Loop flam = makeLoop({0.5, 0.515, 1.0}, {0.9f, 0.3f, 0.9f}, 1.5);
    const QVector<qint64> starts = OnsetDetector::pick(analyse(flam), OnsetDetector::defaultSensitivity, 30, 0, flam.frames());
    QCOMPARE(starts.size(), 2);
    QVERIFY(starts[0] <= flam.hits[0] && flam.hits[0] - starts[0] < kRate / 200);
}

void OnsetDetectorTest::silenceShortAndBrokenInputGiveNothing()
{
    const std::vector<float> silence(size_t(kRate) * 2, 0.0f);
    const OnsetAnalysis quiet = OnsetDetector::analyse(readerFor(silence, 2), kRate, 2, kRate);
    QVERIFY(quiet.isEmpty());
    QVERIFY(OnsetDetector::pick(quiet, 100, 30, 0, kRate).isEmpty());

    const std::vector<float> click{0.0f, 0.9f, -0.9f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f};
    QVERIFY(OnsetDetector::analyse(readerFor(click, 1), 8, 1, kRate).isEmpty());
    QVERIFY(OnsetDetector::analyse(readerFor(click, 1), 0, 1, kRate).isEmpty());
    QVERIFY(OnsetDetector::analyse(readerFor(click, 1), 8, 0, kRate).isEmpty());
    QVERIFY(OnsetDetector::analyse(readerFor(click, 1), 8, 1, 0).isEmpty());
    QVERIFY(OnsetDetector::analyse({}, 8, 1, kRate).isEmpty());

    // A reader that delivers less than promised, or nothing at all, or samples that are
    // not numbers: the analysis finishes and every start lies inside the audio.
    const Loop loop = makeLoop(kHitTimes, {0.8f}, 3.3);
    const OnsetAnalysis cutShort = OnsetDetector::analyse(readerFor(loop.stereo, 2), loop.frames() * 2, 2, kRate);
    for (const OnsetCandidate &c : cutShort.candidates)
        QVERIFY(c.startFrame >= 0 && c.startFrame < loop.frames() * 2);
    QVERIFY(OnsetDetector::analyse([](qint64, int, float *) { return 0; }, loop.frames(), 2, kRate).isEmpty());
    std::vector<float> broken = loop.stereo;
    for (size_t i = 0; i < broken.size(); i += 997)
        broken[i] = i % 2 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    const OnsetAnalysis damaged = OnsetDetector::analyse(readerFor(broken, 2), loop.frames(), 2, kRate);
    for (const OnsetCandidate &c : damaged.candidates)
        QVERIFY(c.startFrame >= 0 && c.startFrame < loop.frames() && std::isfinite(c.strength));

    // A few milliseconds of damage with huge finite values (a float file may hold up to
    // 3e38) neither overflows the analysis nor silences the hits around it.
    const QVector<qint64> clean = OnsetDetector::pick(analyse(loop), OnsetDetector::defaultSensitivity, 30, 0, loop.frames());
    for (float huge : {1e4f, 1e20f}) {
        std::vector<float> burst = loop.stereo;
        const qint64 at = qint64(0.6 * kRate);
        std::fill(burst.begin() + 2 * at, burst.begin() + 2 * (at + 100), huge);
        QVector<qint64> starts = OnsetDetector::pick(OnsetDetector::analyse(readerFor(burst, 2), loop.frames(), 2, kRate),
                                                     OnsetDetector::defaultSensitivity, 30, 0, loop.frames());
        starts.erase(std::remove_if(starts.begin(), starts.end(), [&](qint64 s) { return std::llabs(s - at) < kRate / 100; }),
                     starts.end());
        QCOMPARE(starts, clean);
    }

    // Abandoning through the progress callback leaves nothing half-made.
    QVERIFY(OnsetDetector::analyse(readerFor(loop.stereo, 2), loop.frames(), 2, kRate, [](double) { return false; }).isEmpty());
    // Nonsense picking arguments give nothing or a sane set, never a crash.
    const OnsetAnalysis good = analyse(loop);
    QVERIFY(OnsetDetector::pick(good, 50, 30, 1000, 1000).isEmpty());
    QVERIFY(OnsetDetector::pick(good, std::nan(""), std::nan(""), 0, loop.frames()).size() <= good.candidates.size());
}
