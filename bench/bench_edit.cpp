// Reading a 10-minute 48 kHz stereo loop through the editable cache, against reading the
// plain cache the same way (per sample, as the waveform view and the sound-card callback
// do). The first read after an edit renders every sample; the second finds them rendered.
// Also the Normalize analysis of a 1-minute region against a bare block read of it.

#include "AudioCache.h"
#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "AudioEditNormalize.h"
#include "EditableAudioCache.h"

#include <QCoreApplication>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kLength = 10 * 60 * kRate * 2; // interleaved samples
constexpr int kMinute = 60 * kRate * 2;

class SineReader final : public AudioFile {
public:
    int length() override { return kLength; }
    int sampleRate() override { return kRate; }
    int read(float *buffer, unsigned count) override
    {
        int n = 0;
        for (; n < int(count) && m_pos < kLength; ++n, ++m_pos)
            buffer[n] = 0.5f * float(std::sin(double(m_pos / 2) * 2.0 * M_PI * 220.0 / kRate));
        return n;
    }
    int seek(unsigned sampleIndex) override { return m_pos = int(sampleIndex); }
    int position() override { return m_pos; }

private:
    int m_pos = 0;
};

AudioCachePtr &source()
{
    static AudioCachePtr cache = [] {
        AudioCachePtr c(new AudioCache(AudioFilePtr(new SineReader)));
        c->preallocate();
        c->fillSynchronously();
        return c;
    }();
    return cache;
}

QSharedPointer<EditableAudioCache> &editable()
{
    static QSharedPointer<EditableAudioCache> cache(new EditableAudioCache(source()));
    return cache;
}

void waitForReset(EditableAudioCache *cache)
{
    while (cache->isResetting())
        QThread::msleep(1);
}

// Spreads `count` edits of every kind but Normalize (whose gain would come later from the
// worker) over the loop, each two seconds long; one in eight is a Delete of half a second.
void setEdits(int count)
{
    static QVector<AudioEditPtr> live;
    const auto &cache = editable();
    for (const AudioEditPtr &edit : live)
        cache->removeEdit(edit);
    live.clear();
    static const int kinds[] = {TypeFadeIn, TypeGain,      TypeFadeOut, TypeMute,
                                TypeReverse, TypeDuplicate, TypeGain,    TypeDelete};
    for (int k = 0; k < count; ++k) {
        const int type = kinds[k % 8];
        const int start = int((qint64(kLength - 4 * kRate * 2) * k / std::max(1, count))) & ~1;
        const int end = start + (type == TypeDelete ? kRate : 4 * kRate);
        const AudioEditPtr edit = AudioEditFactory::createEdit(type, type == TypeDuplicate ? start + kRate : -1,
                                                               start, end, cache);
        if (auto gain = edit.objectCast<AudioEditGain>())
            gain->setGain(0.7f);
        cache->addEdit(edit);
        live.append(edit);
    }
    waitForReset(cache.data());
}

float readAll(AudioCache *cache)
{
    const int length = cache->length();
    float sum = 0.0f;
    for (int i = 0; i < length; ++i)
        sum += cache->getSample(i);
    return sum;
}

void BM_PlainCacheRead(benchmark::State &state)
{
    AudioCache *cache = source().data();
    for (auto _ : state)
        benchmark::DoNotOptimize(readAll(cache));
    state.SetItemsProcessed(state.iterations() * kLength);
}

void BM_EditableFirstRead(benchmark::State &state)
{
    setEdits(int(state.range(0)));
    const auto &cache = editable();
    for (auto _ : state) {
        state.PauseTiming();
        cache->renderCache()->zeroSamples(0, kLength);
        state.ResumeTiming();
        benchmark::DoNotOptimize(readAll(cache.data()));
    }
    state.SetItemsProcessed(state.iterations() * cache->length());
}

void BM_EditableSecondRead(benchmark::State &state)
{
    setEdits(int(state.range(0)));
    const auto &cache = editable();
    readAll(cache.data());
    for (auto _ : state)
        benchmark::DoNotOptimize(readAll(cache.data()));
    state.SetItemsProcessed(state.iterations() * cache->length());
}

void BM_BlockReadMinute(benchmark::State &state)
{
    std::vector<float> block(8192);
    AudioCache *cache = source().data();
    for (auto _ : state) {
        float peak = 0.0f;
        for (int pos = kMinute; pos < 2 * kMinute; pos += 8192) {
            const unsigned got = cache->readSamples(block.data(), 8192, unsigned(pos));
            peak = std::max(peak, block[got - 1]);
        }
        benchmark::DoNotOptimize(peak);
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}

void BM_NormalizeAnalysisMinute(benchmark::State &state)
{
    AudioEditNormalize normalize(source(), {});
    normalize.setRange(kMinute, 2 * kMinute);
    for (auto _ : state) {
        normalize.analyze();
        benchmark::DoNotOptimize(normalize.gain());
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}

// The same minute in a loop with edits: the analysis hears the audio as the edits under
// the Normalize leave it (Arg: edits over the whole loop; 0 reads plain blocks).
void BM_NormalizeAnalysisMinuteEdited(benchmark::State &state)
{
    setEdits(int(state.range(0)));
    AudioEditNormalize normalize(source(), editable());
    normalize.setRange(kMinute, 2 * kMinute);
    for (auto _ : state) {
        normalize.analyze();
        benchmark::DoNotOptimize(normalize.gain());
    }
    state.SetItemsProcessed(state.iterations() * kMinute);
}

} // namespace

BENCHMARK(BM_PlainCacheRead)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditableFirstRead)->Arg(0)->Arg(10)->Arg(50)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditableSecondRead)->Arg(0)->Arg(10)->Arg(50)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlockReadMinute)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NormalizeAnalysisMinute)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NormalizeAnalysisMinuteEdited)->Arg(0)->Arg(50)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    editable().reset();
    return 0;
}
