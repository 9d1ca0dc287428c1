#pragma once

#include <QString>

class QByteArray;
class QDomDocument;

// Everything read from a file of the user's (projects, slice templates, settings) passes
// through here. Numbers come out inside the range the window lets the user choose, so a
// damaged or hand-edited file can never drive the stretcher, the sound card or the slicer
// somewhere the window cannot; documents are parsed with a nesting limit, so a file of
// endlessly nested elements is refused instead of exhausting the stack.
// Any thread.
class FileValues {
public:
    struct Range {
        double min;
        double max;
    };
    static constexpr Range kPitchSemitones{-24, 24};
    // New and original tempo both lie between 30 and 300 BPM in the window.
    static constexpr Range kTimeStretchRatio{0.1, 10.0};
    static constexpr Range kTempo{30, 300};
    static constexpr Range kPadGain{0.0, 16.0};
    static constexpr Range kLoopMode{0, 2};
    // Interleaved sample positions and lengths.
    static constexpr Range kPosition{0, 2147483647.0};
    static constexpr Range kSampleRate{0, 768000};

    // No real document nests deeper than a few levels.
    static constexpr int kMaxXmlDepth = 64;

    // The number in text, clamped into range; fallback when text holds no number (or NaN).
    static int toInt(const QString &text, Range range, int fallback);
    static double toDouble(const QString &text, Range range, double fallback);

    // A stored setting with its number clamped into the window's range for that key; keys
    // that hold no number, and values that are no number, come back unchanged.
    static QString setting(const QString &key, const QString &value);

    // QDomDocument::setContent after a streaming pass that refuses documents nested deeper
    // than kMaxXmlDepth; message, line and column say why a document was refused.
    static bool parseXml(const QByteArray &bytes, QDomDocument *doc, QString *message = nullptr,
                         int *line = nullptr, int *column = nullptr);
};
