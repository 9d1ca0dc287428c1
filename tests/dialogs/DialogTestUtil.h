#pragma once

#include "OfflineStretchRenderer.h"
#include <QString>
#include <QWidget>
#include <vector>

namespace DialogTestUtil {

// Interleaved stereo sine.
std::vector<float> stereoSine(double freq, int rate, int frames, float amp = 0.5f);

// A reader over an interleaved buffer.
OfflineStretchRenderer::SampleReader vectorReader(const std::vector<float> &samples);

// Reads a whole sound file as interleaved stereo; rate is set when not null.
std::vector<float> readStereo(const QString &path, int *rate = nullptr);

// Strongest frequency of channel c between two frames (Goertzel scan, 40 Hz to 4 kHz).
double dominantFrequency(const std::vector<float> &interleaved, int rate, int c, size_t fromFrame, size_t toFrame);

// Saves a grab of the widget as /tmp/quillory-dialogs/<name>.png for a look by eye.
void saveScreenshot(QWidget *w, const QString &name);

} // namespace DialogTestUtil
