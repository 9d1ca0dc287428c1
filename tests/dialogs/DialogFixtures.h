#pragma once

#include "Slice.h"
#include "Trevant.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

// A slicer with one loop loaded from a generated WAV, decoded and tempo-detected,
// so that no background signal arrives in the middle of a test.
struct LoadedLoop {
    QTemporaryDir dir;
    std::unique_ptr<Trevant> slicer;
    SlicePtr slice;
    QString path;

    // A sine of freq Hz, seconds long, at rate (stereo unless told); false when anything failed.
    bool load(double freq, double seconds, int rate = 44100, const QString &name = QStringLiteral("loop.wav"),
              int channels = 2);
};
