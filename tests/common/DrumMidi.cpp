#include "DrumMidi.h"

#include <QFile>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <sndfile.h>

namespace DrumMidi {

namespace {

constexpr int kTicksPerQuarter = 20000;
constexpr double kSecondsPerTick = 0.5 / kTicksPerQuarter; // 120 BPM

long long toTicks(double seconds) { return std::llround(std::max(0.0, seconds) / kSecondsPerTick); }

void putVarLen(QByteArray &out, quint32 value)
{
    quint8 bytes[5];
    int n = 0;
    bytes[n++] = quint8(value & 0x7f);
    while ((value >>= 7) != 0)
        bytes[n++] = quint8(0x80 | (value & 0x7f));
    while (n > 0)
        out.append(char(bytes[--n]));
}

void putBigEndian(QByteArray &out, quint32 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
}

QByteArray message(int status, int a, int b = -1)
{
    QByteArray m;
    m.append(char(status));
    m.append(char(a));
    if (b >= 0)
        m.append(char(b));
    return m;
}

struct Event {
    long long tick;
    int order; // note-offs before note-ons at the same tick, so a repeated key restarts
    QByteArray bytes;
};

} // namespace

double tickSeconds(double seconds) { return double(toTicks(seconds)) * kSecondsPerTick; }

long long ticks(double seconds) { return toTicks(seconds); }

QByteArray build(const std::vector<Hit> &hits, int reverbSend)
{
    std::vector<Event> events;
    std::vector<bool> programSent(16, false), sendSet(16, false);
    for (const Hit &h : hits) {
        const int ch = std::clamp(h.channel, 0, 15);
        const long long on = toTicks(h.seconds);
        if (reverbSend >= 0 && !sendSet[size_t(ch)]) {
            sendSet[size_t(ch)] = true;
            events.push_back({0, 0, message(0xB0 | ch, 91, std::clamp(reverbSend, 0, 127))});
        }
        if (h.program >= 0 && !programSent[size_t(ch)]) {
            programSent[size_t(ch)] = true;
            events.push_back({0, 0, message(0xC0 | ch, h.program & 0x7f)});
        }
        const int key = std::clamp(h.note, 0, 127);
        events.push_back({on, 2, message(0x90 | ch, key, std::clamp(h.velocity, 1, 127))});
        events.push_back({std::max(on + 1, toTicks(h.seconds + h.lengthSeconds)), 1, message(0x80 | ch, key, 0)});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    QByteArray track;
    putVarLen(track, 0);
    track.append("\xff\x51\x03", 3);
    putBigEndian(track, 500000, 3);
    long long last = 0;
    for (const Event &e : events) {
        putVarLen(track, quint32(e.tick - last));
        last = e.tick;
        track.append(e.bytes);
    }
    putVarLen(track, quint32(kTicksPerQuarter));
    track.append("\xff\x2f\x00", 3);

    QByteArray file("MThd");
    putBigEndian(file, 6, 4);
    putBigEndian(file, 0, 2);
    putBigEndian(file, 1, 2);
    putBigEndian(file, kTicksPerQuarter, 2);
    file.append("MTrk");
    putBigEndian(file, quint32(track.size()), 4);
    file.append(track);
    return file;
}

QString soundFont()
{
    for (const char *path : {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/default-GM.sf2"})
        if (QFile::exists(path))
            return path;
    return {};
}

bool render(const QString &midiPath, const QString &wavPath, int rate, bool effects)
{
    const QString font = soundFont();
    if (font.isEmpty())
        return false;
    QProcess p;
    QStringList args{"-ni", "-q", "-g", "0.6", "-r", QString::number(rate), "-F", wavPath, "-T", "wav"};
    if (effects)
        args << "-R" << "1" << "-C" << "0" << "-o" << "synth.reverb.room-size=0.9" << "-o" << "synth.reverb.level=0.9"
             << "-o" << "synth.reverb.damp=0.2";
    else
        args << "-R" << "0" << "-C" << "0";
    args << font << midiPath;
    p.start("fluidsynth", args);
    if (!p.waitForFinished(600000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && QFile::exists(wavPath);
}

bool readSound(const QString &path, std::vector<float> *interleaved, int *channels, int *rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return false;
    interleaved->assign(size_t(info.frames) * size_t(info.channels), 0.0f);
    const sf_count_t got = sf_readf_float(f, interleaved->data(), info.frames);
    sf_close(f);
    interleaved->resize(size_t(std::max<sf_count_t>(0, got)) * size_t(info.channels));
    *channels = info.channels;
    *rate = info.samplerate;
    return true;
}

} // namespace DrumMidi
