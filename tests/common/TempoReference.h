#pragma once
// A deliberately plain, slow model of the tempo estimator: every step written out in
// double precision, one scalar loop per sum, tables indexed [bin][sample], the frame
// shifted sample by sample. The optimised estimator must agree with it bit for bit.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ReferenceTempo {

struct Result {
    double tempo = 0.0;
    std::vector<double> candidates;
    int features = 0;
};

inline Result estimate(const std::vector<float> &input, float sampleRate) {
    const double twoPi = 6.283185307179586;
    const double minTempo = 55.0, maxTempo = 190.0;
    const int beatsPerBar = 4;
    const int blockSize = static_cast<int>(sampleRate * 6.0f / 550.0f);
    const int stepSize = blockSize / 2;
    const double featureRate = sampleRate / static_cast<float>(stepSize);
    const double rate = sampleRate;

    struct Band {
        int lo, hi;
        std::vector<std::vector<double>> sine, cosine;
        std::vector<double> previous;
    };
    auto makeBand = [&](double lower, double upper) {
        Band b;
        b.lo = static_cast<int>(std::floor(blockSize * lower) / rate);
        b.hi = static_cast<int>(std::ceil(blockSize * upper) / rate);
        for (int bin = b.lo; bin <= b.hi; ++bin) {
            std::vector<double> s(blockSize), c(blockSize);
            for (int j = 0; j < blockSize; ++j) {
                const double theta = j * (bin * twoPi / blockSize);
                const double w = 0.5 - 0.5 * std::cos(twoPi * j / blockSize);
                s[j] = std::sin(theta) * w;
                c[j] = std::cos(theta) * w;
            }
            b.sine.push_back(s);
            b.cosine.push_back(c);
        }
        b.previous.assign(b.sine.size(), 0.0);
        return b;
    };
    Band low = makeBand(0, 550), high = makeBand(9000, 9001);

    std::vector<double> fLow, fHigh, fRms;
    std::vector<double> frame(blockSize, 0.0);
    auto flux = [&](Band &b) {
        double sum = 0.0;
        for (size_t k = 0; k < b.sine.size(); ++k) {
            double s = 0.0, c = 0.0;
            for (int j = 0; j < blockSize; ++j)
                s += frame[j] * b.sine[k][j];
            for (int j = 0; j < blockSize; ++j)
                c += frame[j] * b.cosine[k][j];
            const double m = std::sqrt(s * s + c * c);
            sum += std::sqrt(std::fabs(m * m - b.previous[k] * b.previous[k]));
            b.previous[k] = m;
        }
        return sum;
    };
    auto analyse = [&] {
        double sq = 0.0;
        for (int j = 0; j < blockSize; ++j)
            sq += frame[j] * frame[j];
        fRms.push_back(std::sqrt(sq / blockSize));
        fLow.push_back(flux(low));
        fHigh.push_back(flux(high));
    };

    // Every full step of input completes a frame; the frame then moves on by one step.
    size_t consumed = 0;
    while (input.size() - consumed >= static_cast<size_t>(stepSize)) {
        for (int i = 0; i < stepSize; ++i)
            frame[blockSize - stepSize + i] = input[consumed + i];
        consumed += stepSize;
        analyse();
        for (int i = 0; i < blockSize - stepSize; ++i)
            frame[i] = frame[i + stepSize];
    }
    if (consumed < input.size()) {
        const int rest = static_cast<int>(input.size() - consumed);
        for (int i = 0; i < stepSize; ++i)
            frame[blockSize - stepSize + i] = i < rest ? input[consumed + i] : 0.0f;
        analyse();
    }

    Result r;
    const int n = static_cast<int>(fRms.size());
    r.features = n;
    int L = static_cast<int>(60 / (minTempo / (beatsPerBar * 4)) * featureRate + 0.5);
    if (L <= 0 || n <= 0)
        return r;
    while (L > n)
        L /= 2;
    auto acf = [&](const std::vector<double> &f) {
        std::vector<double> a(L);
        double largest = -std::numeric_limits<double>::infinity();
        for (int tau = 0; tau < L; ++tau) {
            double s = 0.0;
            for (int j = tau; j < n; ++j)
                s += f[j - tau] * f[j];
            a[tau] = s / (n - tau);
            largest = std::max(largest, a[tau]);
        }
        if (largest > 0)
            for (double &v : a)
                v /= largest;
        return a;
    };
    const std::vector<double> aLow = acf(fLow), aHigh = acf(fHigh), aRms = acf(fRms);
    std::vector<double> A(L);
    for (int t = 0; t < L; ++t)
        A[t] = aLow[t] + 0.5 * aHigh[t] + 0.1 * aRms[t];

    const int shortest = static_cast<int>(60 / maxTempo * featureRate + 0.5);
    const int longest = static_cast<int>(60 / minTempo * featureRate + 0.5);
    if (L < longest)
        return r;
    const int c = longest - shortest + 1;
    auto nextT = [&](int t) { return t == 1 ? beatsPerBar : t * 2; };
    std::vector<double> score(c);
    for (int i = 0; i < c; ++i) {
        const int lag = shortest + i;
        double sum = 0;
        int windows = 0;
        for (int t = 1;; t = nextT(t)) {
            const int s = lag * t - t / 4;
            const int e = s + (t == 1 ? 1 : t / 4 + t / 2);
            if (e > L)
                break;
            double m = -std::numeric_limits<double>::infinity();
            for (int k = s; k < e; ++k)
                m = std::max(m, A[k]);
            sum += m;
            ++windows;
        }
        score[i] = windows ? sum / windows : std::numeric_limits<double>::quiet_NaN();
    }
    double hi = -std::numeric_limits<double>::infinity(), lo = std::numeric_limits<double>::infinity();
    for (double v : score)
        if (!std::isnan(v)) {
            hi = std::max(hi, v);
            lo = std::min(lo, v);
        }
    if (hi > lo)
        for (double &v : score)
            v = (v - lo) / (hi - lo);
    for (int i = 0; i < c; ++i) {
        const double b = featureRate * 60 / (shortest + i);
        const double d = b < 130 ? std::fabs(130 - b) / 100 : std::fabs(130 - b) / 80;
        score[i] *= std::max(0.0, 1 - std::pow(d, 2.4));
    }
    std::vector<std::pair<double, int>> peaks;
    for (int i = 1; i <= c - 2; ++i)
        if (score[i] > score[i - 1] && score[i] > score[i + 1])
            peaks.push_back({score[i], i});
    std::sort(peaks.begin(), peaks.end(), [](const auto &x, const auto &y) {
        return x.first != y.first ? x.first > y.first : x.second > y.second;
    });
    for (const auto &p : peaks) {
        const int lag = shortest + p.second;
        double sum = 0;
        int count = 0;
        for (int t = 1;; t = nextT(t)) {
            const int s = lag * t - t / 4;
            const int e = s + (t == 1 ? 1 : t / 4 + t / 2);
            if (e > L)
                break;
            double m = 0;
            int at = -1;
            for (int k = s; k < e; ++k)
                if (A[k] > m) {
                    m = A[k];
                    at = k;
                }
            if (m > 0) {
                sum += static_cast<double>(at) / t;
                ++count;
            }
        }
        const double refined = count > 0 ? sum / count : lag;
        r.candidates.push_back(featureRate * 60 / refined);
    }
    r.tempo = r.candidates.empty() ? 0.0 : r.candidates.front();
    return r;
}

} // namespace ReferenceTempo
