#pragma once

#include <QString>

// How exported audio is written: sample format and rate, read from the preferences
// (WaveExportBitDepth, WaveExportSampleRate) or given directly.
class ExportFormat {
public:
    // 8, 16 or 24 bit integer PCM, or 32 bit float (the loop's own precision, nothing lost).
    int bitDepth = 16;
    // 0 keeps the loop's own rate; otherwise the rate of the written files, in Hz.
    int sampleRate = 0;

    // From the preferences; texts that are missing or unknown give 16 bit and the
    // loop's own rate.
    static ExportFormat fromSettings();
    // One of "8 bit", "16 bit", "24 bit", "32 bit"; anything else gives 16.
    static int bitDepthFromText(const QString &text);
    // "Original" or an unknown text gives 0. "22500" is the stored name of the half
    // CD rate and writes 22050 Hz files: no player or sampler expects 22500 Hz.
    static int sampleRateFromText(const QString &text);

    // The rate of the written file for a loop at fileRate.
    int targetRate(int fileRate) const { return sampleRate > 0 ? sampleRate : fileRate; }
    // libsndfile format word for a file of this container (by extension: wav, aif/aiff,
    // flac; anything else is written as WAV). FLAC has no 32 bit format and gets 24.
    int sndfileFormat(const QString &path) const;
};
