// Slicing at the hits, measured: a corpus of drum parts written as MIDI and rendered with
// fluidsynth, so every hit's time is known, scored with the F-measure at +-20 ms and the
// signed offset of each slice start from its hit; `aubio onset` with each of its methods
// and several thresholds runs on the same files in the same run. Then the speed on a
// ten-minute 48 kHz stereo file against `aubio onset`, and the cost of re-picking as a
// fraction of one 60 Hz frame.
//
// Where a hit is. fluidsynth starts a voice at the beginning of a 64-sample block: the
// first block whose millisecond clock (rounded down) has reached the note's time in
// milliseconds (rounded up), plus one block. The calibration below checks that rule on
// isolated notes at both rates and reports for how many it predicts the block. A drum
// sample's audible attack comes a little after its voice starts (the recorded samples
// have a short quiet lead-in), so each note, velocity and instrument is rendered alone
// and its attack taken as the first sample within 40 dB of its peak, counted from the
// predicted block. A hit's time is that block's start plus the attack delay. Notes that sound within 30 ms of each other make
// one onset, at the earliest attack among those within 30 dB of the loudest of them.
// Reverb, compression and noise are added without delaying the dry sound.
//
// Late starts are counted twice: over all matched hits, and over the hits that are not
// buried under the hiss or reverb the treatment added (see Item::audible), because a hit
// whose attack lies wholly under added noise has no attack any detector could find.

#include "DrumMidi.h"
#include "OnsetDetector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <sndfile.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Hits = std::vector<DrumMidi::Hit>;

QTemporaryDir &tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

// QUILLORY_ONSET_CORPUS names a folder that keeps the renders between runs (for tuning).
QString tempPath(const QString &name)
{
    const QByteArray keep = qgetenv("QUILLORY_ONSET_CORPUS");
    if (!keep.isEmpty()) {
        QDir().mkpath(QString::fromLocal8Bit(keep));
        return QDir(QString::fromLocal8Bit(keep)).filePath(name);
    }
    return tempDir().filePath(name);
}

bool render(const QString &mid, const QString &wav, int rate, bool effects = false)
{
    if (!qEnvironmentVariableIsEmpty("QUILLORY_ONSET_CORPUS") && QFile::exists(wav))
        return true;
    return DrumMidi::render(mid, wav, rate, effects);
}

// ---------------------------------------------------------------- the drum parts

enum Drum { Kick = 36, SideStick = 37, Snare = 38, Clap = 39, LowTom = 45, MidTom = 47, HighTom = 50,
            ClosedHat = 42, PedalHat = 44, OpenHat = 46, Crash = 49, Ride = 51 };

struct Part {
    Hits hits;
    double seconds = 0.0;
};

// Adds hits on a sixteenth-note grid with a player's timing: swing on the off sixteenths
// and a few milliseconds of looseness, velocities in steps of 8 (so every sound can be
// calibrated alone).
// --variant N plays every part again at another tempo (within 8% either way) with other
// timing and velocities: a check that the detector's settings were not fitted to one
// performance of the corpus.
unsigned g_variant = 0;

class Player {
public:
    Player(double bpm, double swing, double looseMs, unsigned seed)
        : m_step(15.0 / (bpm * variantTempo(seed))), m_swing(swing), m_loose(looseMs / 1000.0), m_rng(seed + 7919 * g_variant)
    {
    }
    static double variantTempo(unsigned seed)
    {
        if (g_variant == 0)
            return 1.0;
        std::mt19937 r(seed * 31 + g_variant);
        return std::uniform_real_distribution<double>(0.92, 1.08)(r);
    }
    void hit(int bar, int step, int note, int velocity, int channel = 9, int program = -1, double length = 0.05)
    {
        std::uniform_real_distribution<double> jitter(-m_loose, m_loose);
        const double swingShift = (step % 2 == 1) ? m_swing * m_step : 0.0;
        DrumMidi::Hit h;
        h.seconds = kLeadIn + (bar * 16 + step) * m_step + swingShift + jitter(m_rng);
        h.note = note;
        h.velocity = std::clamp(int(std::lround(velocity / 8.0)) * 8, 8, 127);
        h.channel = channel;
        h.program = program;
        h.lengthSeconds = length;
        part.hits.push_back(h);
        part.seconds = std::max(part.seconds, h.seconds + 1.0);
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    int vary(int v, int by) { return v + std::uniform_int_distribution<int>(-by, by)(m_rng); }
    Part part;
    static constexpr double kLeadIn = 0.25;

private:
    double m_step, m_swing, m_loose;
    std::mt19937 m_rng;
};

Part breakbeat()
{
    Player p(98, 0.0, 5.0, 11);
    for (int bar = 0; bar < 8; ++bar) {
        for (int s : {0, 2, 10, 11})
            if (s != 11 || bar % 2 == 1)
                p.hit(bar, s, Kick, p.vary(112, 8));
        for (int s : {4, 12})
            p.hit(bar, s, Snare, p.vary(118, 6));
        for (int s : {7, 9, 15})
            if (p.chance(0.7))
                p.hit(bar, s, Snare, p.vary(40, 8));
        for (int s = 0; s < 16; s += 2)
            p.hit(bar, s, s == 14 && bar % 4 == 3 ? OpenHat : ClosedHat, p.vary(s % 4 == 0 ? 96 : 72, 8));
    }
    return p.part;
}

Part rock(unsigned seed = 21)
{
    Player p(122, 0.0, 4.0, seed);
    for (int bar = 0; bar < 8; ++bar) {
        for (int s : {0, 6, 8})
            p.hit(bar, s, Kick, p.vary(110, 6));
        for (int s : {4, 12})
            if (bar != 7 || s == 4)
                p.hit(bar, s, Snare, p.vary(120, 4));
        if (bar % 4 == 0)
            p.hit(bar, 0, Crash, 110);
        for (int s = 0; s < 16; s += 2)
            if (!(bar % 4 == 0 && s == 0) && !(bar == 7 && s >= 8))
                p.hit(bar, s, ClosedHat, p.vary(s % 4 == 0 ? 100 : 76, 6));
        if (bar == 7)
            for (int s = 8; s < 16; ++s)
                p.hit(bar, s, s < 11 ? HighTom : s < 14 ? MidTom : LowTom, p.vary(104, 8));
    }
    return p.part;
}

Part hiphop()
{
    Player p(88, 0.12, 6.0, 31);
    for (int bar = 0; bar < 8; ++bar) {
        for (int s : {0, 3, 10})
            p.hit(bar, s, Kick, p.vary(108, 8));
        for (int s : {4, 12})
            p.hit(bar, s, Snare, p.vary(116, 6));
        for (int s : {1, 6, 9, 14, 15})
            if (p.chance(0.45))
                p.hit(bar, s, Snare, p.vary(32, 8));
        for (int s = 0; s < 16; ++s)
            if (s % 2 == 0 || p.chance(0.6))
                p.hit(bar, s, s == 7 ? PedalHat : ClosedHat, p.vary(s % 2 == 0 ? 84 : 44, 8));
    }
    return p.part;
}

Part house()
{
    Player p(124, 0.0, 2.0, 41);
    const int bassline[] = {33, 33, 36, 31};
    for (int bar = 0; bar < 8; ++bar) {
        for (int s = 0; s < 16; s += 4)
            p.hit(bar, s, Kick, 116);
        for (int s : {4, 12})
            p.hit(bar, s, Clap, p.vary(104, 8));
        for (int s = 2; s < 16; s += 4)
            p.hit(bar, s, OpenHat, p.vary(88, 8));
        for (int s = 1; s < 16; s += 2)
            if (p.chance(0.5))
                p.hit(bar, s, ClosedHat, p.vary(56, 8));
        // The bass plays with the off-beat hats and on its own on the last sixteenth.
        for (int s : {2, 6, 10, 14, 15})
            p.hit(bar, s, bassline[bar % 4] + (s == 15 ? 12 : 0), p.vary(100, 8), 0, 38, 0.09);
    }
    return p.part;
}

Part drumAndBass()
{
    Player p(174, 0.0, 3.0, 51);
    for (int bar = 0; bar < 12; ++bar) {
        for (int s : {0, 10})
            p.hit(bar, s, Kick, p.vary(114, 6));
        if (bar % 2 == 1)
            p.hit(bar, 7, Kick, p.vary(96, 8));
        for (int s : {4, 12})
            p.hit(bar, s, Snare, p.vary(120, 4));
        for (int s : {2, 9, 14})
            if (p.chance(0.5))
                p.hit(bar, s, Snare, p.vary(40, 8));
        for (int s = 0; s < 16; ++s)
            p.hit(bar, s, bar % 4 == 3 ? Ride : ClosedHat, p.vary(s % 2 == 0 ? 88 : 56, 8));
    }
    return p.part;
}

// ---------------------------------------------------------------- rendering and truth

long long voiceStart(double seconds, int rate)
{
    const long long ticks = DrumMidi::ticks(seconds);
    const long long ms = (ticks + 39) / 40; // 40 ticks per millisecond, rounded up
    long long block = (ms * rate) / 64000;
    while ((block * 64000) / rate < ms)
        ++block;
    while (block > 0 && ((block - 1) * 64000) / rate >= ms)
        --block;
    return 64 * (block + 1) + 1;
}

struct Sound {
    int channel, program, note, velocity;
    bool operator<(const Sound &o) const
    {
        return std::tie(channel, program, note, velocity) < std::tie(o.channel, o.program, o.note, o.velocity);
    }
};
struct Attack {
    int delay = 0; // samples from voice start
    float peak = 0.0f;
    // The sound's first 5 ms from its attack, mixed to mono: its peak, and the peak of its
    // second difference (which weighs the top of the spectrum, where a hi-hat lives).
    float early = 0.0f, earlyHigh = 0.0f;
};

struct Calibration {
    std::map<std::pair<int, Sound>, Attack> attacks; // keyed by rate
    int predicted = 0, checked = 0;
    std::vector<double> delaysMs;
};

Calibration &calibration()
{
    static Calibration c;
    return c;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool readWav(const QString &path, std::vector<float> *x, int *channels, int *rate)
{
    return DrumMidi::readSound(path, x, channels, rate);
}

bool writeFloatWav(const QString &path, const std::vector<float> &x, int channels, int rate)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    sf_writef_float(f, x.data(), sf_count_t(x.size() / size_t(channels)));
    return sf_close(f) == 0;
}

std::vector<float> monoOf(const std::vector<float> &x, int channels)
{
    std::vector<float> m(x.size() / size_t(channels), 0.0f);
    for (size_t f = 0; f < m.size(); ++f) {
        for (int c = 0; c < channels; ++c)
            m[f] += x[f * size_t(channels) + size_t(c)];
        m[f] /= float(channels);
    }
    return m;
}

// Peak of a mono signal and of its second difference over [from, to).
struct Levels {
    float broad = 0.0f, high = 0.0f;
};
Levels levels(const std::vector<float> &m, long long from, long long to)
{
    Levels l;
    for (long long f = std::max(2LL, from); f < std::min<long long>((long long)(m.size()), to); ++f) {
        l.broad = std::max(l.broad, std::fabs(m[size_t(f)]));
        l.high = std::max(l.high, std::fabs(m[size_t(f)] - 2.0f * m[size_t(f - 1)] + m[size_t(f - 2)]));
    }
    return l;
}

// Renders every sound of the parts alone, one second apart, and measures its attack.
void calibrate(const std::vector<Hits> &parts, int rate)
{
    std::vector<Sound> sounds;
    for (const Hits &hits : parts)
        for (const DrumMidi::Hit &h : hits) {
            const Sound s{h.channel, h.program, h.note, h.velocity};
            if (!calibration().attacks.count({rate, s}) && std::find_if(sounds.begin(), sounds.end(), [&](const Sound &o) {
                    return !(o < s) && !(s < o);
                }) == sounds.end())
                sounds.push_back(s);
        }
    if (sounds.empty())
        return;
    // Each sound in a file of its own: cymbal tails last for seconds.
    std::mt19937 rng{unsigned(rate)};
    for (size_t i = 0; i < sounds.size(); ++i) {
        DrumMidi::Hit h;
        // A random fraction of a millisecond, so the block rule is tried at every phase.
        h.seconds = 0.2 + std::uniform_real_distribution<double>(0.0, 0.01)(rng);
        h.note = sounds[i].note;
        h.velocity = sounds[i].velocity;
        h.channel = sounds[i].channel;
        h.program = sounds[i].program;
        h.lengthSeconds = sounds[i].channel == 9 ? 0.05 : 0.09;
        const QString mid = tempPath(QString("calibration-%1-%2.mid").arg(rate).arg(i));
        const QString wav = tempPath(QString("calibration-%1-%2.wav").arg(rate).arg(i));
        std::vector<float> x;
        int channels = 0, r = 0;
        if (!writeFile(mid, DrumMidi::build({h})) || !render(mid, wav, rate) || !readWav(wav, &x, &channels, &r)) {
            std::printf("calibration render failed at %d Hz\n", rate);
            return;
        }
        const long long frames = (long long)(x.size()) / channels;
        auto level = [&](long long f) {
            float v = 0.0f;
            for (int c = 0; c < channels; ++c)
                v = std::max(v, std::fabs(x[size_t(f * channels + c)]));
            return v;
        };
        const long long predicted = voiceStart(h.seconds, rate);
        long long first = 0;
        while (first < frames && level(first) == 0.0f)
            ++first;
        ++calibration().checked;
        // Some samples begin with a few zeros: the rule predicts the block, not the sample.
        if (first >= predicted && first < predicted + 64)
            ++calibration().predicted;
        float peak = 0.0f;
        const long long end = std::min(frames, first + rate / 10);
        for (long long f = first; f < end; ++f)
            peak = std::max(peak, level(f));
        long long attack = first;
        while (attack < end && level(attack) < 0.01f * peak)
            ++attack;
        const std::vector<float> mono = monoOf(x, channels);
        const Levels early = levels(mono, attack, attack + rate / 200);
        calibration().attacks[{rate, sounds[i]}] = Attack{int(attack - predicted), peak, early.broad, early.high};
        calibration().delaysMs.push_back(1000.0 * double(attack - predicted) / rate);
    }
}

struct Onset {
    double frame;
};

QString soundName(const DrumMidi::Hit &h)
{
    if (h.channel != 9)
        return QString("bass%1").arg(h.note);
    switch (h.note) {
    case 36: return "kick";
    case 37: return "stick";
    case 38: return "snare";
    case 39: return "clap";
    case 42: return "hat";
    case 44: return "pedalhat";
    case 46: return "openhat";
    case 45: case 47: case 50: return "tom";
    case 49: return "crash";
    case 51: return "ride";
    default: return QString("drum%1").arg(h.note);
    }
}

// Onsets in frames at rate, from the hits (see the top of the file). labels, when given,
// receives what sounds at each onset (for the diagnostic listing).
std::vector<double> truth(const Hits &hits, int rate, std::vector<QString> *labels = nullptr, std::vector<Levels> *own = nullptr)
{
    struct Sounding {
        double attack;
        float peak;
        QString name;
        Levels early;
    };
    std::vector<Sounding> s;
    for (const DrumMidi::Hit &h : hits) {
        const Attack a = calibration().attacks[{rate, Sound{h.channel, h.program, h.note, h.velocity}}];
        s.push_back({double(voiceStart(h.seconds, rate) + a.delay), a.peak,
                     QString("%1/%2").arg(soundName(h)).arg(h.velocity), Levels{a.early, a.earlyHigh}});
    }
    std::sort(s.begin(), s.end(), [](const Sounding &a, const Sounding &b) { return a.attack < b.attack; });
    std::vector<double> onsets;
    const double group = 0.030 * rate;
    for (size_t i = 0; i < s.size();) {
        size_t j = i;
        float loudest = 0.0f;
        while (j < s.size() && s[j].attack - s[i].attack < group)
            loudest = std::max(loudest, s[j++].peak);
        size_t first = i;
        while (first + 1 < j && s[first].peak < loudest * 0.0316f)
            ++first;
        onsets.push_back(s[first].attack);
        if (own)
            own->push_back(s[first].early);
        if (labels) {
            QStringList names;
            for (size_t k = i; k < j; ++k)
                names << s[k].name;
            labels->push_back(names.join('+'));
        }
        i = j;
    }
    return onsets;
}

// ---------------------------------------------------------------- the corpus

struct Item {
    QString name;
    QString path;
    std::vector<double> onsets; // frames
    std::vector<QString> labels; // what sounds at each onset
    // Whether the sound that starts each onset reaches, within 5 ms, the peak of the hiss or
    // reverb the treatment added over the 10 ms before it (broadband or in its second
    // difference). A hat at velocity 40 in the hiss of the noisy files lies under it in
    // every band: no detector can see its attack, and where it is matched at all, its
    // slice starts where the noise happened to rise. Dry files hold no buried hits.
    std::vector<bool> audible;
    // How far (dB) the hit stands over that added signal, in the better of the two measures.
    std::vector<float> marginDb;
    int rate = 44100;
};

enum class Treatment { None, Mono, Reverb, Compress, Noise, CompressNoise };

// The name a part's files are kept under: a replay's files apart from the corpus's.
QString fileStem(const QString &name)
{
    return g_variant ? QString("%1-variant%2").arg(name).arg(g_variant) : name;
}

// White noise 40 dB below full scale (RMS), a hissy tape or a noisy room.
void addNoise(std::vector<float> *x)
{
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (float &v : *x)
        v += noise(rng);
}

bool buildItem(const QString &name, const Part &part, int rate, Treatment t, Item *item, std::vector<Levels> *own)
{
    const QString file = fileStem(name);
    const QString mid = tempPath(file + ".mid");
    const QString dry = tempPath(file + "-render.wav");
    const bool reverb = t == Treatment::Reverb;
    if (!writeFile(mid, DrumMidi::build(part.hits, reverb ? 110 : -1)) || !render(mid, dry, rate, reverb))
        return false;
    item->name = name;
    item->rate = rate;
    item->onsets = truth(part.hits, rate, &item->labels, own);
    item->path = tempPath(file + ".wav");
    auto ffmpeg = [](const QStringList &args) {
        QProcess p;
        p.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args);
        return p.waitForFinished(600000) && p.exitCode() == 0;
    };
    // acompressor has no look-ahead: it changes levels, never times.
    const QString squash = "acompressor=threshold=-32dB:ratio=20:attack=0.5:release=80:makeup=14dB";
    switch (t) {
    case Treatment::None:
    case Treatment::Reverb:
        QFile::remove(item->path);
        return QFile::copy(dry, item->path);
    case Treatment::Mono:
        return ffmpeg({"-i", dry, "-ac", "1", "-c:a", "pcm_s16le", item->path});
    case Treatment::Compress:
        return ffmpeg({"-i", dry, "-af", squash, "-c:a", "pcm_f32le", item->path});
    case Treatment::Noise:
    case Treatment::CompressNoise: {
        QString source = dry;
        if (t == Treatment::CompressNoise) {
            source = tempPath(file + "-squashed.wav");
            if (!ffmpeg({"-i", dry, "-af", squash, "-c:a", "pcm_f32le", source}))
                return false;
        }
        std::vector<float> x;
        int channels = 0, r = 0;
        if (!readWav(source, &x, &channels, &r))
            return false;
        addNoise(&x);
        return writeFloatWav(item->path, x, channels, rate);
    }
    }
    return false;
}

// Which onsets are buried by what the treatment added: the hiss of the noisy files or
// the wash of the reverberant ones (see Item::audible). A hit is compared with the peak of
// that added signal alone over the 10 ms before it; where the track was compressed before
// the noise went on, the hit's level is scaled by the gain the compressor gave it.
bool makeItem(const QString &name, const Part &part, int rate, Treatment t, Item *item)
{
    std::vector<Levels> own;
    if (!buildItem(name, part, rate, t, item, &own))
        return false;
    item->audible.assign(item->onsets.size(), true);
    item->marginDb.assign(item->onsets.size(), std::numeric_limits<float>::infinity());
    if (t != Treatment::Reverb && t != Treatment::Noise && t != Treatment::CompressNoise)
        return true;
    const QString file = fileStem(name);
    std::vector<float> dry, added, squashed;
    int channels = 0, r = 0;
    if (t == Treatment::Reverb) {
        // The same part without the reverb: what the reverb added is the difference.
        const QString mid = tempPath(file + "-dry.mid"), wav = tempPath(file + "-dry.wav");
        std::vector<float> wet;
        if (!writeFile(mid, DrumMidi::build(part.hits)) || !render(mid, wav, rate) || !readWav(wav, &dry, &channels, &r) ||
            !readWav(tempPath(file + "-render.wav"), &wet, &channels, &r) || wet.size() != dry.size())
            return false;
        added.resize(wet.size());
        for (size_t i = 0; i < wet.size(); ++i)
            added[i] = wet[i] - dry[i];
    } else {
        if (!readWav(tempPath(file + "-render.wav"), &dry, &channels, &r))
            return false;
        added.assign(dry.size(), 0.0f);
        addNoise(&added);
        if (t == Treatment::CompressNoise && !readWav(tempPath(file + "-squashed.wav"), &squashed, &channels, &r))
            return false;
    }
    const std::vector<float> addedMono = monoOf(added, channels), dryMono = monoOf(dry, channels),
                             squashedMono = squashed.empty() ? std::vector<float>() : monoOf(squashed, channels);
    for (size_t i = 0; i < item->onsets.size(); ++i) {
        const long long at = (long long)(item->onsets[i]);
        const Levels under = levels(addedMono, at - rate / 100, at);
        float gain = 1.0f;
        if (!squashedMono.empty()) {
            const float before = levels(dryMono, at, at + rate / 200).broad;
            if (before > 0.0f)
                gain = levels(squashedMono, at, at + rate / 200).broad / before;
        }
        item->audible[i] = own[i].broad * gain >= under.broad || own[i].high * gain >= under.high;
        item->marginDb[i] = 20.0f * std::log10(std::max(own[i].broad * gain / std::max(under.broad, 1e-9f),
                                                        own[i].high * gain / std::max(under.high, 1e-9f)) + 1e-9f);
    }
    return true;
}

std::vector<Item> corpus()
{
    struct FileRecipe {
        const char *name;
        Part part;
        int rate;
        Treatment t;
    };
    std::vector<FileRecipe> recipes = {
        {"breakbeat", breakbeat(), 44100, Treatment::None},
        {"rock", rock(), 44100, Treatment::None},
        {"hiphop-ghosts", hiphop(), 44100, Treatment::None},
        {"house-bass", house(), 44100, Treatment::None},
        {"drum-and-bass", drumAndBass(), 44100, Treatment::None},
        {"breakbeat-mono", breakbeat(), 44100, Treatment::Mono},
        {"rock-48k", rock(22), 48000, Treatment::None},
        {"dnb-48k", drumAndBass(), 48000, Treatment::None},
        {"breakbeat-reverb", breakbeat(), 44100, Treatment::Reverb},
        {"hiphop-reverb", hiphop(), 44100, Treatment::Reverb},
        {"rock-compressed", rock(), 44100, Treatment::Compress},
        {"house-compressed", house(), 44100, Treatment::Compress},
        {"hiphop-noise", hiphop(), 44100, Treatment::Noise},
        {"dnb-compressed-noise", drumAndBass(), 44100, Treatment::CompressNoise},
    };
    for (int rate : {44100, 48000}) {
        std::vector<Hits> parts;
        for (const FileRecipe &s : recipes)
            if (s.rate == rate)
                parts.push_back(s.part.hits);
        calibrate(parts, rate);
    }
    std::vector<Item> items;
    for (const FileRecipe &s : recipes) {
        Item item;
        if (makeItem(s.name, s.part, s.rate, s.t, &item))
            items.push_back(item);
        else
            std::printf("could not build %s\n", s.name);
    }
    return items;
}

// ---------------------------------------------------------------- scoring

struct Score {
    int hits = 0, found = 0, matched = 0;
    double offsetSum = 0.0, maxLate = -1e9, maxEarly = 1e9;
    // Starts later than 1 ms after their hit: all, and those of audible hits.
    int late = 0, lateAudible = 0;
    // Starts more than 10 ms before their hit: such a slice carries the tail of what came before.
    int farEarly = 0;
    double maxLateAudible = -1e9;
    void add(const Score &o)
    {
        late += o.late;
        lateAudible += o.lateAudible;
        farEarly += o.farEarly;
        maxLateAudible = std::max(maxLateAudible, o.maxLateAudible);
        hits += o.hits;
        found += o.found;
        matched += o.matched;
        offsetSum += o.offsetSum;
        maxLate = std::max(maxLate, o.maxLate);
        maxEarly = std::min(maxEarly, o.maxEarly);
    }
    double f() const { return hits + found == 0 ? 1.0 : 2.0 * matched / double(hits + found); }
    double precision() const { return found ? matched / double(found) : 1.0; }
    double recall() const { return hits ? matched / double(hits) : 1.0; }
    double meanOffset() const { return matched ? offsetSum / matched : 0.0; }
};

// Who matched whom: for each onset the index of its slice start, for each start its onset
// (-1 when unmatched).
struct Matching {
    std::vector<int> ofOnset, ofFound;
};

// One-to-one matching within +-20 ms, closest pairs first. Offsets in milliseconds.
Score score(const std::vector<double> &onsets, const std::vector<double> &found, int rate, Matching *matching = nullptr,
            const std::vector<bool> *audible = nullptr)
{
    Score s;
    s.hits = int(onsets.size());
    s.found = int(found.size());
    if (matching) {
        matching->ofOnset.assign(onsets.size(), -1);
        matching->ofFound.assign(found.size(), -1);
    }
    struct Pair {
        double d;
        size_t a, b;
    };
    std::vector<Pair> pairs;
    const double window = 0.020 * rate;
    for (size_t a = 0; a < onsets.size(); ++a) {
        const auto lo = std::lower_bound(found.begin(), found.end(), onsets[a] - window);
        for (auto it = lo; it != found.end() && *it <= onsets[a] + window; ++it)
            pairs.push_back({*it - onsets[a], a, size_t(it - found.begin())});
    }
    std::sort(pairs.begin(), pairs.end(), [](const Pair &x, const Pair &y) { return std::fabs(x.d) < std::fabs(y.d); });
    std::vector<bool> usedA(onsets.size()), usedB(found.size());
    for (const Pair &p : pairs) {
        if (usedA[p.a] || usedB[p.b])
            continue;
        usedA[p.a] = usedB[p.b] = true;
        if (matching) {
            matching->ofOnset.resize(onsets.size(), -1);
            matching->ofFound.resize(found.size(), -1);
            matching->ofOnset[p.a] = int(p.b);
            matching->ofFound[p.b] = int(p.a);
        }
        ++s.matched;
        const double ms = 1000.0 * p.d / rate;
        s.offsetSum += ms;
        s.maxLate = std::max(s.maxLate, ms);
        s.maxEarly = std::min(s.maxEarly, ms);
        const bool heard = !audible || p.a >= audible->size() || (*audible)[p.a];
        if (heard)
            s.maxLateAudible = std::max(s.maxLateAudible, ms);
        if (ms < -10.0)
            ++s.farEarly;
        if (ms > 1.0) {
            ++s.late;
            s.lateAudible += heard ? 1 : 0;
        }
    }
    return s;
}

// ---------------------------------------------------------------- running the detectors

struct Loaded {
    std::vector<float> x;
    int channels = 0, rate = 0;
    long long frames() const { return channels ? (long long)(x.size()) / channels : 0; }
};

OnsetAnalysis analyseLoaded(const Loaded &l)
{
    const OnsetDetector::FrameReader reader = [&l](qint64 frame, int count, float *out) {
        const qint64 n = std::clamp<qint64>(l.frames() - frame, 0, count);
        std::copy(l.x.begin() + frame * l.channels, l.x.begin() + (frame + n) * l.channels, out);
        return int(n);
    };
    return OnsetDetector::analyse(reader, l.frames(), l.channels, l.rate);
}

// Reads the file with libsndfile as it goes, as a command-line tool must.
OnsetAnalysis analyseFile(const QString &path)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return {};
    sf_count_t at = 0;
    const OnsetDetector::FrameReader reader = [&](qint64 frame, int count, float *out) {
        if (frame != at)
            sf_seek(f, frame, SEEK_SET);
        const sf_count_t got = sf_readf_float(f, out, count);
        at = frame + std::max<sf_count_t>(0, got);
        return int(std::max<sf_count_t>(0, got));
    };
    OnsetAnalysis a = OnsetDetector::analyse(reader, info.frames, info.channels, info.samplerate);
    sf_close(f);
    return a;
}

std::vector<double> aubioOnsets(const QString &path, const QString &method, double threshold, int rate)
{
    QStringList args{"onset", "-i", path, "-m", method};
    if (threshold > 0.0)
        args << "-t" << QString::number(threshold);
    QProcess p;
    p.start("aubio", args);
    std::vector<double> found;
    if (!p.waitForFinished(600000))
        return found;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const double t = line.trimmed().toDouble(&ok);
        if (ok)
            found.push_back(t * rate);
    }
    std::sort(found.begin(), found.end());
    return found;
}

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

struct Timing {
    double wall = 1e9, cpu = 1e9;
};

template <typename F> Timing timeBest(int runs, int who, F &&f)
{
    Timing t;
    for (int i = 0; i < runs; ++i) {
        const double c0 = cpuSeconds(who);
        const auto w0 = std::chrono::steady_clock::now();
        f();
        t.wall = std::min(t.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count());
        t.cpu = std::min(t.cpu, cpuSeconds(who) - c0);
    }
    return t;
}

// Ten minutes of drums at 48 kHz: the rock part repeated with new timing every eight bars.
QString longFile()
{
    Hits all;
    double offset = 0.0;
    unsigned seed = 100;
    while (offset < 600.0) {
        const Part p = rock(seed++);
        for (DrumMidi::Hit h : p.hits) {
            h.seconds += offset;
            if (h.seconds < 599.5)
                all.push_back(h);
        }
        offset += p.seconds - 1.0 + 0.25;
    }
    const QString mid = tempPath("ten-minutes.mid"), wav = tempPath("ten-minutes.wav");
    if (!writeFile(mid, DrumMidi::build(all)) || !render(mid, wav, 48000))
        return {};
    return wav;
}

// The faults of one file at one sensitivity, worst first: false alarms by strength (with
// the nearest real onset), misses (with the nearest candidate the detector had, whether
// or not it was picked), and starts later than 1 ms after their hit.
void printDetails(const Item &item, const OnsetAnalysis &analysis, const QVector<qint64> &starts, int limit)
{
    const std::vector<double> found(starts.begin(), starts.end());
    Matching m;
    score(item.onsets, found, item.rate, &m);
    auto ms = [&](double frames) { return 1000.0 * frames / item.rate; };
    auto nearestOnset = [&](double at) {
        size_t best = 0;
        for (size_t i = 1; i < item.onsets.size(); ++i)
            if (std::fabs(item.onsets[i] - at) < std::fabs(item.onsets[best] - at))
                best = i;
        return best;
    };
    auto candidateNear = [&](double at) -> const OnsetCandidate * {
        const OnsetCandidate *best = nullptr;
        for (const OnsetCandidate &c : analysis.candidates)
            if (!best || std::fabs(double(c.startFrame) - at) < std::fabs(double(best->startFrame) - at))
                best = &c;
        return best;
    };
    auto strengthAt = [&](qint64 start) {
        for (const OnsetCandidate &c : analysis.candidates)
            if (c.startFrame == start)
                return c.strength;
        return -1.0f;
    };
    struct Line {
        double key;
        QString text;
    };
    std::vector<Line> fps, misses, late;
    for (size_t b = 0; b < found.size(); ++b) {
        if (m.ofFound[b] >= 0) {
            const size_t a = size_t(m.ofFound[b]);
            const double off = ms(found[b] - item.onsets[a]);
            if (off > 1.0)
                late.push_back({off, QString("    late  %1 s  %2 ms  strength %3  %4%5")
                                         .arg(item.onsets[a] / item.rate, 0, 'f', 3)
                                         .arg(off, 0, 'f', 2)
                                         .arg(strengthAt(starts[int(b)]), 0, 'f', 3)
                                         .arg(item.labels[a])
                                         .arg(a < item.audible.size() && !item.audible[a]
                                                  ? QString("  (buried, %1 dB under)").arg(-item.marginDb[a], 0, 'f', 1)
                                                  : QString())});
            continue;
        }
        const size_t a = nearestOnset(found[b]);
        const float st = strengthAt(starts[int(b)]);
        fps.push_back({st, QString("    false %1 s  strength %2  nearest onset %3 ms away (%4, %5)")
                               .arg(found[b] / item.rate, 0, 'f', 3)
                               .arg(st, 0, 'f', 3)
                               .arg(ms(found[b] - item.onsets[a]), 0, 'f', 1)
                               .arg(item.labels[a])
                               .arg(m.ofOnset[a] >= 0 ? "matched" : "missed")});
    }
    for (size_t a = 0; a < item.onsets.size(); ++a) {
        if (m.ofOnset[a] >= 0)
            continue;
        const OnsetCandidate *c = candidateNear(item.onsets[a]);
        const double d = c ? ms(double(c->startFrame) - item.onsets[a]) : 1e9;
        misses.push_back({c ? -double(c->strength) : 0.0,
                          QString("    miss  %1 s  %2  nearest candidate %3 ms, strength %4")
                              .arg(item.onsets[a] / item.rate, 0, 'f', 3)
                              .arg(item.labels[a])
                              .arg(d, 0, 'f', 1)
                              .arg(c ? c->strength : 0.0f, 0, 'f', 3)});
    }
    auto list = [&](std::vector<Line> &v) {
        std::sort(v.begin(), v.end(), [](const Line &x, const Line &y) { return x.key > y.key; });
        for (size_t i = 0; i < std::min(v.size(), size_t(limit)); ++i)
            std::printf("%s\n", qPrintable(v[i].text));
    };
    std::printf("  %s: %zu false, %zu missed, %zu late\n", qPrintable(item.name), fps.size(), misses.size(), late.size());
    list(fps);
    list(misses);
    list(late);
}

volatile long long sink = 0;

// Speed on ten minutes at 48 kHz stereo, reading the same WAV file as aubio does, against
// aubio's default method and the given one; then the cost of re-picking.
bool timeSpeed(const QString &method, double threshold)
{
    const QString longPath = longFile();
    if (longPath.isEmpty()) {
        std::printf("\ncould not render the ten-minute file\n");
        return false;
    }
    OnsetAnalysis longAnalysis;
    const Timing mine = timeBest(3, RUSAGE_SELF, [&] { longAnalysis = analyseFile(longPath); });
    const Timing aubioDefault = timeBest(3, RUSAGE_CHILDREN, [&] { aubioOnsets(longPath, "hfc", 0.0, 48000); });
    const Timing aubioBest = timeBest(3, RUSAGE_CHILDREN, [&] { aubioOnsets(longPath, method, threshold, 48000); });
    std::printf("\nTen minutes, 48 kHz stereo WAV (best of 3): detection %.3f s wall, %.3f s CPU\n", mine.wall, mine.cpu);
    std::printf("  vs aubio onset (hfc, its default) %.3f s wall, %.3f s CPU: ratio %.3f wall, %.3f CPU (target <= 0.5)\n",
                aubioDefault.wall, aubioDefault.cpu, mine.wall / aubioDefault.wall, mine.cpu / aubioDefault.cpu);
    std::printf("  vs aubio onset -m %s %.3f s wall, %.3f s CPU: ratio %.3f wall, %.3f CPU\n", qPrintable(method), aubioBest.wall,
                aubioBest.cpu, mine.wall / aubioBest.wall, mine.cpu / aubioBest.cpu);

    // Re-picking: the whole file at every slider position.
    double worst = 0.0, sum = 0.0;
    int runs = 0;
    for (int rep = 0; rep < 3; ++rep)
        for (double s = 0; s <= 100; s += 1) {
            const auto t0 = std::chrono::steady_clock::now();
            const QVector<qint64> starts = OnsetDetector::pick(longAnalysis, s, OnsetDetector::defaultMinLengthMs, 0, longAnalysis.frames);
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            worst = std::max(worst, t);
            sum += t;
            ++runs;
            sink = sink + starts.size();
        }
    std::printf("  pick() over the whole file (%d candidates): mean %.4f, worst %.4f of a 16.7 ms frame\n",
                longAnalysis.candidates.size(), sum / runs / 0.0167, worst / 0.0167);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // --sensitivity S scores one setting; --quality-only leaves out aubio and the speed runs;
    // --speed-only runs only the timings (against aubio's hfc); --details N lists the N
    // worst false alarms, misses and late starts of every file; --variant N (see Player).
    double only = -1.0;
    bool qualityOnly = false, speedOnly = false;
    int details = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--sensitivity" && i + 1 < argc)
            only = std::atof(argv[i + 1]);
        if (std::string(argv[i]) == "--variant" && i + 1 < argc)
            g_variant = unsigned(std::max(0, std::atoi(argv[i + 1])));
        if (std::string(argv[i]) == "--details" && i + 1 < argc)
            details = std::max(0, std::atoi(argv[i + 1]));
        qualityOnly = qualityOnly || std::string(argv[i]) == "--quality-only";
        speedOnly = speedOnly || std::string(argv[i]) == "--speed-only";
    }
    if (DrumMidi::soundFont().isEmpty()) {
        std::printf("no General MIDI sound font: install fluid-soundfont-gm\n");
        return 1;
    }
    if (speedOnly)
        return timeSpeed("hfc", 0.0) ? 0 : 1;
    const std::vector<Item> items = corpus();
    const Calibration &cal = calibration();
    double dMin = 1e9, dMax = 0, dSum = 0;
    for (double d : cal.delaysMs) {
        dMin = std::min(dMin, d);
        dMax = std::max(dMax, d);
        dSum += d;
    }
    std::printf("Calibration: the voice-start rule predicts the 64-sample block of %d of %d isolated notes;\n"
                "  attack (-40 dB of peak) after voice start: min %.2f, mean %.2f, max %.2f ms over %zu sounds\n\n",
                cal.predicted, cal.checked, dMin, cal.delaysMs.empty() ? 0.0 : dSum / double(cal.delaysMs.size()), dMax,
                cal.delaysMs.size());

    // Our detector: one analysis per file, then picks across the sensitivity range.
    std::vector<OnsetAnalysis> analyses;
    for (const Item &it : items) {
        Loaded l;
        readWav(it.path, &l.x, &l.channels, &l.rate);
        analyses.push_back(analyseLoaded(l));
    }
    std::vector<double> sensitivities;
    if (only >= 0.0)
        sensitivities.push_back(only);
    else {
        for (double s = 0; s <= 100; s += 5)
            sensitivities.push_back(s);
        if (std::find(sensitivities.begin(), sensitivities.end(), OnsetDetector::defaultSensitivity) == sensitivities.end()) {
            sensitivities.push_back(OnsetDetector::defaultSensitivity);
            std::sort(sensitivities.begin(), sensitivities.end());
        }
    }
    std::printf("Quillory over the corpus by sensitivity (minimum length %.0f ms):\n", OnsetDetector::defaultMinLengthMs);
    for (double s : sensitivities) {
        Score total;
        for (size_t i = 0; i < items.size(); ++i) {
            const QVector<qint64> starts = OnsetDetector::pick(analyses[i], s, OnsetDetector::defaultMinLengthMs, 0, analyses[i].frames);
            total.add(score(items[i].onsets, std::vector<double>(starts.begin(), starts.end()), items[i].rate, nullptr,
                            &items[i].audible));
        }
        std::printf("  sensitivity %5.1f  F %.4f  (%d hits, %d slices, %d matched)  offset mean %+.2f ms, latest %+.2f ms, "
                    "%d later than +1 ms (%d of hits not buried)\n",
                    s, total.f(), total.hits, total.found, total.matched, total.meanOffset(), total.maxLate, total.late,
                    total.lateAudible);
    }

    // aubio: every method at its default threshold and a few others; the best single setting.
    const QStringList methods{"hfc", "energy", "complex", "phase", "specdiff", "kl", "mkl", "specflux"};
    const std::vector<double> thresholds{0.0, 0.1, 0.2, 0.5, 0.8};
    struct Setting {
        QString method;
        double threshold;
        Score total;
        std::vector<Score> perFile;
    };
    std::vector<Setting> settings;
    for (const QString &m : qualityOnly ? QStringList{"hfc"} : methods)
        for (double t : qualityOnly ? std::vector<double>{0.0} : thresholds) {
            Setting st{m, t, {}, {}};
            for (const Item &it : items) {
                const Score sc = score(it.onsets, aubioOnsets(it.path, m, t, it.rate), it.rate);
                st.total.add(sc);
                st.perFile.push_back(sc);
            }
            settings.push_back(st);
        }
    std::sort(settings.begin(), settings.end(), [](const Setting &a, const Setting &b) { return a.total.f() > b.total.f(); });
    std::printf("\naubio onset, best settings over the corpus:\n");
    for (size_t i = 0; i < std::min<size_t>(6, settings.size()); ++i)
        std::printf("  -m %-8s -t %-7s F %.4f  offset mean %+.2f ms, latest %+.2f ms\n", qPrintable(settings[i].method),
                    settings[i].threshold > 0 ? qPrintable(QString::number(settings[i].threshold)) : "default",
                    settings[i].total.f(), settings[i].total.meanOffset(), settings[i].total.maxLate);

    const double sensitivity = only >= 0.0 ? only : OnsetDetector::defaultSensitivity;
    const Setting &best = settings.front();
    std::printf("\nPer file at the default sensitivity %.0f, against aubio -m %s%s:\n", sensitivity, qPrintable(best.method),
                best.threshold > 0 ? qPrintable(" -t " + QString::number(best.threshold)) : "");
    std::printf("  %-22s %5s %7s %6s %6s %8s %8s %8s %6s | %7s %8s\n", "file", "hits", "F", "P", "R",
                "mean ms", "late ms", "early ms", "<-10ms", "aubio F", "mean ms");
    Score ours;
    for (size_t i = 0; i < items.size(); ++i) {
        const QVector<qint64> starts = OnsetDetector::pick(analyses[i], sensitivity, OnsetDetector::defaultMinLengthMs, 0, analyses[i].frames);
        const Score sc = score(items[i].onsets, std::vector<double>(starts.begin(), starts.end()), items[i].rate, nullptr,
                               &items[i].audible);
        ours.add(sc);
        std::printf("  %-22s %5d %7.4f %6.3f %6.3f %+8.2f %+8.2f %+8.2f %6d | %7.4f %+8.2f\n",
                    qPrintable(items[i].name), sc.hits, sc.f(), sc.precision(), sc.recall(), sc.meanOffset(),
                    sc.maxLate, sc.maxEarly, sc.farEarly, best.perFile[i].f(), best.perFile[i].meanOffset());
    }
    std::printf("  %-22s %5d %7.4f %6.3f %6.3f %+8.2f %+8.2f %+8.2f %6d | %7.4f %+8.2f\n", "all", ours.hits,
                ours.f(), ours.precision(), ours.recall(), ours.meanOffset(), ours.maxLate, ours.maxEarly,
                ours.farEarly, best.total.f(), best.total.meanOffset());
    std::printf("  targets: F >= 0.97 %s; F >= best aubio + 0.05 %s; mean offset in [-3, 0] ms %s; none later than +1 ms %s\n",
                ours.f() >= 0.97 ? "met" : "MISSED", ours.f() >= best.total.f() + 0.05 ? "met" : "MISSED",
                ours.meanOffset() >= -3.0 && ours.meanOffset() <= 0.0 ? "met" : "MISSED", ours.maxLate <= 1.0 ? "met" : "MISSED");
    int audibleHits = 0;
    for (const Item &it : items)
        audibleHits += int(std::count(it.audible.begin(), it.audible.end(), true));
    std::printf("  starts later than +1 ms: %d of %d matched; of the %d hits not buried under added hiss or reverb, %d "
                "(latest %+.2f ms)\n",
                ours.late, ours.matched, audibleHits, ours.lateAudible, ours.maxLateAudible);

    if (details > 0) {
        std::printf("\nWorst faults at sensitivity %.0f:\n", sensitivity);
        for (size_t i = 0; i < items.size(); ++i)
            printDetails(items[i], analyses[i],
                         OnsetDetector::pick(analyses[i], sensitivity, OnsetDetector::defaultMinLengthMs, 0, analyses[i].frames),
                         details);
    }

    if (qualityOnly)
        return 0;

    return timeSpeed(best.method, best.threshold) ? 0 : 1;
}
