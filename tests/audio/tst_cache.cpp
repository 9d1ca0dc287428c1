#include "AudioCache.h"
#include "AudioFixtures.h"
#include "FakeReader.h"
#include "PeakScan.h"
#include "PeakSummary.h"
#include "ReadAheadStream.h"
#include "WorkerSafeTest.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>

using AudioFixtures::stair;

namespace {

AudioCachePtr makeCache(int length, int holds) {
    return AudioCachePtr(new AudioCache(AudioFilePtr(new FakeReader(length, holds))));
}

// Compares the cache's block read of [start, start + n) with the staircase.
bool holdsStaircase(AudioCache &cache, int start, int n) {
    std::vector<float> buf(size_t(n), -9.0f);
    if (cache.readSamples(buf.data(), unsigned(n), unsigned(start)) != unsigned(n))
        return false;
    for (int i = 0; i < n; ++i)
        if (buf[size_t(i)] != stair(start + i) || cache.getSample(start + i) != stair(start + i))
            return false;
    return true;
}

} // namespace

class AudioCacheTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void preallocateMakesOneChunkPer4096Samples_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("chunks");
        QTest::newRow("empty") << 0 << 1;
        QTest::newRow("one sample short of a chunk") << 4094 << 1;
        QTest::newRow("exactly two") << 8192 << 2;
        QTest::newRow("10000") << 10000 << 3;
        QTest::newRow("10 minutes 48 kHz") << 57600000 << 14063;
    }
    void preallocateMakesOneChunkPer4096Samples() {
        QFETCH(int, length);
        QFETCH(int, chunks);
        AudioCachePtr cache = makeCache(length, length);
        QCOMPARE(cache->length(), length);
        cache->preallocate();
        QCOMPARE(cache->chunkCount(), chunks);
        for (int k = 0; k < chunks; k += std::max(1, chunks / 7)) {
            const SampleChunk *c = cache->chunkAt(k);
            QCOMPARE(c->start, k * 4096);
            QCOMPARE(c->count.load(), 4096);
            QCOMPARE(reinterpret_cast<quintptr>(c->data) % 16, quintptr(0));
            QCOMPARE(c->data[0], 0.0f);
            QCOMPARE(c->data[4095], 0.0f);
        }
        // Before the fill every sample reads as silence.
        QCOMPARE(cache->getSample(std::max(0, length - 1)), 0.0f);
        // A second call does not duplicate chunks.
        cache->preallocate();
        QCOMPARE(cache->chunkCount(), chunks);
    }

    void fillEndsWithTheShortRead() {
        AudioCachePtr cache = makeCache(10000, 10000);
        cache->preallocate();
        QSignalSpy progress(cache.data(), &AudioCache::fillProgress);
        QSignalSpy finished(cache.data(), &AudioCache::fillFinished);
        cache->fill();
        QCOMPARE(cache->chunkCount(), 3);
        QCOMPARE(cache->chunkAt(0)->count.load(), 4096);
        QCOMPARE(cache->chunkAt(1)->count.load(), 4096);
        QCOMPARE(cache->chunkAt(2)->count.load(), 1808);
        QCOMPARE(cache->chunkAt(2)->start, 8192);
        QCOMPARE(progress.count(), 1);
        QCOMPARE(finished.count(), 1);
        QVERIFY(cache->isFilled());
        QVERIFY(holdsStaircase(*cache, 0, 10000));
        // A second fill would read the exhausted reader over the data; it is refused.
        cache->fill();
        QCOMPARE(finished.count(), 1);
        QVERIFY(holdsStaircase(*cache, 0, 10000));
    }

    void fillOfExactMultipleAppendsOneEmptyChunk() {
        AudioCachePtr cache = makeCache(8192, 8192);
        cache->preallocate();
        QTest::ignoreMessage(QtDebugMsg, "Warning: Allocated and inserted new chunk during fill 8192");
        cache->fill();
        QCOMPARE(cache->chunkCount(), 3);
        QCOMPARE(cache->chunkAt(2)->count.load(), 0);
        QCOMPARE(cache->length(), 8192);
        QVERIFY(holdsStaircase(*cache, 0, 8192));
    }

    void emptyCacheFillEndsAfterOneRead() {
        auto probe = std::make_shared<ReaderProbe>();
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(0, 0, probe))));
        cache->preallocate();
        QSignalSpy finished(cache.data(), &AudioCache::fillFinished);
        cache->fill();
        QCOMPARE(probe->reads.load(), 1);
        QCOMPARE(cache->chunkCount(), 1);
        QCOMPARE(finished.count(), 1);
        float sample = 5.0f;
        QCOMPARE(cache->readSamples(&sample, 1, 0), 0u);
        QCOMPARE(sample, 5.0f);
    }

    void progressEvery128Chunks() {
        const int length = 300 * 4096 + 10;
        AudioCachePtr cache = makeCache(length, length);
        cache->preallocate();
        QSignalSpy progress(cache.data(), &AudioCache::fillProgress);
        cache->fill();
        // After chunks 128 and 256, then once at the end (301 chunks in all).
        QCOMPARE(progress.count(), 3);
        QVERIFY(holdsStaircase(*cache, length - 5000, 5000));
    }

    void readerShortOfItsLengthLeavesSilentTail() {
        AudioCachePtr cache = makeCache(20000, 9000);
        cache->preallocate();
        cache->fill();
        QCOMPARE(cache->length(), 20000);
        QVERIFY(holdsStaircase(*cache, 0, 9000));
        for (int i = 9000; i < 20000; i += 997)
            QCOMPARE(cache->getSample(i), 0.0f);
        QCOMPARE(cache->getSample(19999), 0.0f);
        // A block read stops where the delivered samples end.
        std::vector<float> buf(1000, 3.0f);
        QCOMPARE(cache->readSamples(buf.data(), 1000, 8500), 500u);
        QCOMPARE(buf[499], stair(8999));
        QCOMPARE(cache->readSamples(buf.data(), 1000, 9000), 0u);
    }

    void blockReadAcrossChunks() {
        AudioCachePtr cache = makeCache(10000, 10000);
        cache->preallocate();
        cache->fill();
        std::vector<float> buf(512, -9.0f);
        QCOMPARE(cache->readSamples(buf.data(), 512, 8000), 512u);
        for (int i = 0; i < 512; ++i)
            QCOMPARE(buf[size_t(i)], stair(8000 + i));
        // Limited to the length.
        QCOMPARE(cache->readSamples(buf.data(), 512, 9900), 100u);
        QCOMPARE(buf[99], stair(9999));
        QCOMPARE(cache->readSamples(buf.data(), 512, 10000), 0u);
        QCOMPARE(cache->readSamples(buf.data(), 512, 4000000000u), 0u);
        QCOMPARE(cache->getSample(-1), 0.0f);
        QCOMPARE(cache->getSample(3 * 4096 + 5), 0.0f);
    }

    void fillWithoutPreallocateAppendsChunks() {
        AudioCachePtr cache = makeCache(70000, 70000);
        // Every chunk is appended by the fill, one warning each (18 chunks).
        for (int s = 0; s <= 69632; s += 4096)
            QTest::ignoreMessage(
                QtDebugMsg,
                qPrintable(
                    QStringLiteral("Warning: Allocated and inserted new chunk during fill %1").arg(s)));
        cache->fill();
        QCOMPARE(cache->chunkCount(), 18);
        QVERIFY(holdsStaircase(*cache, 0, 70000));
    }

    void synchronousFillEmitsNothing() {
        AudioCachePtr cache = makeCache(50000, 50000);
        cache->preallocate();
        QSignalSpy progress(cache.data(), &AudioCache::fillProgress);
        QSignalSpy finished(cache.data(), &AudioCache::fillFinished);
        cache->fillSynchronously();
        QCOMPARE(progress.count(), 0);
        QCOMPARE(finished.count(), 0);
        QVERIFY(cache->isFilled());
        QCOMPARE(cache->chunkCount(), 13);
        QVERIFY(holdsStaircase(*cache, 0, 50000));
    }

    void zeroAndSetSamplesAcrossChunks() {
        AudioCachePtr cache = makeCache(10000, 10000);
        cache->preallocate();
        cache->fill();
        cache->zeroSamples(4000, 200);
        for (int i = 3990; i < 4210; ++i)
            QCOMPARE(cache->getSample(i), (i >= 4000 && i < 4200) ? 0.0f : stair(i));
        // Limited to the length, and harmless outside it.
        cache->zeroSamples(9990, 1000);
        QCOMPARE(cache->getSample(9989), stair(9989));
        QCOMPARE(cache->getSample(9999), 0.0f);
        cache->zeroSamples(-5, 10);
        cache->zeroSamples(20000, 10);
        cache->setSample(4100, 0.75f);
        QCOMPARE(cache->getSample(4100), 0.75f);
        cache->setSample(99999, 1.0f);
        cache->setSample(-1, 1.0f);
        QCOMPARE(cache->getSample(99999), 0.0f);
    }

    void integerStoresHandOutTheSameFloats_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("store");
        QTest::newRow("16-bit") << 16 << int(AudioCache::Store::Int16);
        QTest::newRow("24-bit") << 24 << int(AudioCache::Store::Int24);
        QTest::newRow("float") << 0 << int(AudioCache::Store::Float32);
    }
    void integerStoresHandOutTheSameFloats() {
        QFETCH(int, bits);
        QFETCH(int, store);
        // Longer than it holds: a short last chunk, then preallocated silence.
        auto *reader = new FakeReader(3 * 4096 + 500, 2 * 4096 + 301);
        reader->setIntegerBits(bits);
        AudioCachePtr cache(new AudioCache(AudioFilePtr(reader)));
        QCOMPARE(int(cache->store()), store);
        cache->preallocate();
        QCOMPARE(cache->getSample(5), 0.0f);
        cache->fill();
        QVERIFY(holdsStaircase(*cache, 0, 2 * 4096 + 301));
        QVERIFY(holdsStaircase(*cache, 4093, 10));
        std::vector<float> tail(300, -9.0f);
        QCOMPARE(cache->readSamples(tail.data(), 300, 3 * 4096), 300u);
        QCOMPARE(*std::max_element(tail.begin(), tail.end()), 0.0f);
        QCOMPARE(*std::min_element(tail.begin(), tail.end()), 0.0f);
        // Writes keep what the store can hold: the extremes of its range, and silence.
        cache->setSample(7, -1.0f);
        cache->setSample(8, 0.5f);
        QCOMPARE(cache->getSample(7), -1.0f);
        QCOMPARE(cache->getSample(8), 0.5f);
        const float highest = bits == 16 ? 32767.0f / 32768.0f : bits == 24 ? 8388607.0f / 8388608.0f : 1.0f;
        cache->setSample(9, 1.0f);
        QCOMPARE(cache->getSample(9), highest);
        cache->zeroSamples(4090, 12);
        QCOMPARE(cache->getSample(4089), stair(4089));
        QCOMPARE(cache->getSample(4090), 0.0f);
        QCOMPARE(cache->getSample(4101), 0.0f);
        QCOMPARE(cache->getSample(4102), stair(4102));
    }

    void writableCacheIsReadableAtOnceAndRewrittenWhileRead() {
        const int length = 3 * 4096 + 100;
        AudioCachePtr cache = AudioCache::createWritable(length);
        QCOMPARE(cache->length(), length);
        QCOMPARE(cache->chunkCount(), 4);
        cache->fill(); // nothing to fill from: leaves the samples alone
        cache->setSample(length - 1, 0.5f);
        QCOMPARE(cache->getSample(length - 1), 0.5f);
        cache->zeroSamples(length - 1, 1);
        QCOMPARE(cache->getSample(length - 1), 0.0f);
        // The editable cache renders into it on one thread while another resets regions
        // and others read: every read sees silence or a value that was written.
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            for (int round = 0; round < 50 && !stop; ++round) {
                for (int i = 0; i < length; ++i)
                    cache->setSample(i, stair(i));
                cache->zeroSamples(round * 97, 5000);
            }
        });
        int wrong = -1;
        for (int round = 0; round < 200 && wrong < 0; ++round)
            for (int i = round % 7; i < length; i += 7) {
                const float v = cache->getSample(i);
                if (v != 0.0f && v != stair(i))
                    wrong = i;
            }
        stop = true;
        writer.join();
        QCOMPARE(wrong, -1);
    }

    // Every vector version of the block scan this processor runs gives what the portable
    // one gives: a lone extreme at each position of a block, NaN among floats, a count of
    // blocks that leaves a remainder, and samples that start off any vector alignment.
    void everyBlockScanAgreesWithThePortableOne() {
        constexpr int kBlock = PeakScan::kBlockSamples, kBlocks = 2 * kBlock + 5;
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20000, 20000);
        std::vector<std::int16_t> ints(kBlocks * kBlock + 8);
        for (auto &v : ints)
            v = std::int16_t(noise(random));
        for (int b = 0; b < kBlocks; ++b) // block b has its extreme at position b % kBlock
            ints[size_t(b * kBlock + b % kBlock + 1)] = b % 2 ? 32767 : -32768;
        std::vector<float> floats(ints.size());
        for (size_t i = 0; i < ints.size(); ++i)
            floats[i] = float(ints[i]) / 32768.0f;
        for (int i = 3 * kBlock; i < 4 * kBlock; ++i) // a block of nothing but NaN
            floats[size_t(i + 1)] = std::numeric_limits<float>::quiet_NaN();
        for (int i = 5; i < int(floats.size()); i += 97)
            floats[size_t(i)] = std::numeric_limits<float>::quiet_NaN();

        const auto int16Kernels = PeakScan::int16Kernels();
        const auto floatKernels = PeakScan::floatKernels();
        QVERIFY(int16Kernels.size() >= 2 && floatKernels.size() >= 2); // SSE2 at least, on x86-64
        std::vector<std::int16_t> wantLo(kBlocks), wantHi(kBlocks), lo(kBlocks), hi(kBlocks);
        std::vector<float> wantLoF(kBlocks), wantHiF(kBlocks), loF(kBlocks), hiF(kBlocks);
        for (int offset : {1, 0}) {
            int16Kernels.front().run(ints.data() + offset, kBlocks, wantLo.data(), wantHi.data());
            floatKernels.front().run(floats.data() + offset, kBlocks, wantLoF.data(), wantHiF.data());
            // The portable scans are the reference.
            QCOMPARE(wantLo[0], std::int16_t(-32768));
            QCOMPARE(wantHi[1], std::int16_t(32767));
            if (offset == 1) // block 3 is the NaN block then
                QCOMPARE(wantLoF[3], 0.0f);
            for (const auto &kernel : int16Kernels) {
                kernel.run(ints.data() + offset, kBlocks, lo.data(), hi.data());
                QVERIFY2(lo == wantLo && hi == wantHi, kernel.name);
            }
            for (const auto &kernel : floatKernels) {
                kernel.run(floats.data() + offset, kBlocks, loF.data(), hiF.data());
                QVERIFY2(loF == wantLoF && hiF == wantHiF, kernel.name);
            }
        }
    }

    // The summary against the samples themselves: noise with a lone full-scale sample in
    // some blocks and NaN in others, fed in chunks that start at block edges, in the middle
    // of blocks and at the ragged end, at both precisions and from floats and integers.
    // Spans of every size must give the exact extremes, whatever the vector width used.
    void peakSummaryHoldsExactExtremes_data() {
        QTest::addColumn<bool>("integers");
        QTest::addColumn<int>("precision");
        QTest::newRow("int16 into int16") << true << int(PeakSummary::Precision::Int16);
        QTest::newRow("int16 into float") << true << int(PeakSummary::Precision::Float);
        QTest::newRow("float into float") << false << int(PeakSummary::Precision::Float);
        QTest::newRow("float into int16") << false << int(PeakSummary::Precision::Int16);
    }
    void peakSummaryHoldsExactExtremes() {
        QFETCH(bool, integers);
        QFETCH(int, precision);
        constexpr int kLength = 2 * 70001; // not a whole number of blocks at any level
        std::mt19937 random(19);
        std::uniform_int_distribution<int> noise(-3000, 3000);
        std::vector<std::int16_t> ints(kLength);
        for (auto &v : ints)
            v = std::int16_t(noise(random));
        for (int i = 333; i < kLength; i += 9973)
            ints[size_t(i)] = (i / 9973) % 2 ? std::numeric_limits<std::int16_t>::max()
                                             : std::numeric_limits<std::int16_t>::min();
        ints[kLength - 1] = 31000; // in the ragged last block
        std::vector<float> floats(kLength);
        for (int i = 0; i < kLength; ++i)
            floats[size_t(i)] = float(ints[size_t(i)]) / 32768.0f;
        // Float input may hold NaN, which the summary leaves out (one block is nothing else).
        std::vector<float> values = floats;
        if (!integers) {
            for (int i = 5000; i < 5000 + 128; ++i)
                floats[size_t(i)] = std::numeric_limits<float>::quiet_NaN();
            for (int i = 777; i < kLength; i += 4111)
                floats[size_t(i)] = std::numeric_limits<float>::quiet_NaN();
            for (int i = 0; i < kLength; ++i)
                values[size_t(i)] = std::isnan(floats[size_t(i)]) ? 0.0f : floats[size_t(i)];
        }

        const PeakSummary::SampleReader read = [&](float *dst, int start, int count) {
            std::copy(values.begin() + start, values.begin() + start + count, dst);
        };
        PeakSummary summary(kLength, false, PeakSummary::Precision(precision));
        PeakSummary::Range range;
        for (int start = 0; start < kLength;) {
            const int n = std::min(kLength - start, start % 3 == 0 ? 4096 : 1000 + start % 517);
            if (integers)
                summary.update(start, ints.data() + start, n);
            else
                summary.update(start, floats.data() + start, n);
            start += n;
            // Blocks not reached yet are unknown at every level; those behind are exact.
            if (start < kLength) {
                QVERIFY(!summary.query(0, kLength, read, range));
                // (A block the update ended in counts as known; the ones after it do not.)
                const int fine = 2 * PeakSummary::kBlockFrames[0];
                const int untouched = (start + fine - 1) / fine * fine;
                for (int level = 1; level < PeakSummary::kLevels; ++level) {
                    const int size = 2 * PeakSummary::kBlockFrames[level];
                    const int blockEnd = std::min(kLength, (start / size + 1) * size);
                    if (untouched < blockEnd)
                        QVERIFY(!summary.query(0, blockEnd, read, range));
                }
                QVERIFY(summary.query(0, start & ~1, read, range));
                const auto [lo, hi] = std::minmax_element(values.begin(), values.begin() + (start & ~1));
                QCOMPARE(range.minimum, *lo);
                QCOMPARE(range.maximum, *hi);
            }
        }
        std::uniform_int_distribution<int> position(0, kLength);
        for (int k = 0; k < 3000; ++k) {
            int from = position(random), to = position(random);
            if (k < 40) { // spans from two samples to the whole length
                from = k * 37;
                to = std::min(kLength, from + 2 + (kLength >> (k % 18)));
            }
            if (from > to)
                std::swap(from, to);
            if (from == to)
                continue;
            // Whole frames, as the summary reads them.
            const int first = from & ~1, last = std::min(kLength, (to + 1) & ~1);
            QVERIFY(summary.query(from, to, read, range));
            const auto [lo, hi] = std::minmax_element(values.begin() + first, values.begin() + last);
            if (range.minimum != *lo || range.maximum != *hi)
                QFAIL(qPrintable(QStringLiteral("[%1, %2): %3..%4, want %5..%6")
                                     .arg(from)
                                     .arg(to)
                                     .arg(range.minimum)
                                     .arg(range.maximum)
                                     .arg(*lo)
                                     .arg(*hi)));
        }
    }

    void tryLockNeverWaits() {
        AudioCachePtr cache = makeCache(100, 100);
        QVERIFY(cache->tryLock());
        QVERIFY(cache->tryLock()); // recursive for the holding thread
        bool otherGotIt = true;
        std::thread other([&] { otherGotIt = cache->tryLock(); });
        other.join();
        QVERIFY(!otherGotIt);
        cache->unlock();
        cache->unlock();
        std::thread again([&] {
            otherGotIt = cache->tryLock();
            if (otherGotIt)
                cache->unlock();
        });
        again.join();
        QVERIFY(otherGotIt);
    }

    void cacheKeepsItsReaderAlive() {
        auto probe = std::make_shared<ReaderProbe>();
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(100, 100, probe))));
        QVERIFY(!probe->destroyed);
        QVERIFY(cache->audioFile());
        cache.reset();
        QVERIFY(probe->destroyed);
    }

    void cancelledCacheIsNotFilled() {
        auto probe = std::make_shared<ReaderProbe>();
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(10000, 10000, probe))));
        cache->preallocate();
        cache->cancelFill();
        QSignalSpy finished(cache.data(), &AudioCache::fillFinished);
        cache->fill();
        QCOMPARE(probe->reads.load(), 0);
        QCOMPARE(finished.count(), 0);
        QVERIFY(!cache->isFilled());
        QCOMPARE(cache->getSample(5), 0.0f);
    }

    // The read-ahead stream hands out what a filled cache over the same reader does, in
    // the blocks tempo detection reads, for a file holding less than it reports, and the
    // block from the start that the detection reads again at its end.
    void readAheadStreamReadsAsTheCache() {
        const int length = 300000;
        const int holds = 250001;
        AudioCachePtr cache = makeCache(length, holds);
        cache->preallocate();
        cache->fillSynchronously();
        ReadAheadStream stream(AudioFilePtr(new FakeReader(length, holds)), false);
        std::vector<float> expected(512), got(512);
        unsigned position = 0;
        for (;;) {
            std::fill(expected.begin(), expected.end(), -1.0f);
            std::fill(got.begin(), got.end(), -2.0f);
            const unsigned n = cache->readSamples(expected.data(), 512, position);
            QCOMPARE(stream.read(got.data(), 512, position), n);
            QVERIFY(std::equal(expected.begin(), expected.begin() + n, got.begin()));
            if (n == 0)
                break;
            position += n;
        }
        QCOMPARE(position, unsigned(holds));
        QCOMPARE(stream.read(got.data(), 512, 0), 512u);
        QCOMPARE(got[511], stair(511));
        QCOMPARE(stream.read(got.data(), 512, 8192), 0u); // long given up
        QCOMPARE(stream.deliveredSamples(), (long long)holds);
    }

    // A consumer that stops early while the decoder waits on a full window of pieces:
    // reads end, and the stream is destroyed without waiting for the rest of the file.
    void readAheadStreamStopsWithItsWindowFull() {
        const auto probe = std::make_shared<ReaderProbe>();
        {
            ReadAheadStream stream(AudioFilePtr(new FakeReader(4096 * 1000, 4096 * 1000, probe)), false);
            std::vector<float> buffer(512);
            QCOMPARE(stream.read(buffer.data(), 512, 0), 512u);
            QTRY_VERIFY(probe->reads.load() >= 64);
            stream.stop();
            QCOMPARE(stream.read(buffer.data(), 512, 512), 0u);
        }
        QVERIFY(probe->reads.load() < 1000);
        QVERIFY(probe->destroyed.load());
    }
};

QObject *createAudioCacheTest() {
    return new AudioCacheTest;
}

#include "tst_cache.moc"
