#pragma once

#include <QString>

// File names made to fit the file system's limit on one name: 255 bytes in UTF-8 on
// Linux's file systems, whatever the characters. Names come from loop file names, which
// may be that long already, and have numbers, suffixes and extensions added to them.
class FileNameFit {
public:
    // Bytes one name (one component of a path) may have.
    static constexpr int kMaxNameBytes = 255;

    // head + tail, with head shortened at a character boundary (a whole character with
    // its accents) until the name fits in kMaxNameBytes; tail (a slice number, an
    // extension) is kept whole. Trailing spaces left by the cut go too. Unchanged when it
    // fits already.
    static QString fit(const QString &head, const QString &tail = QString());
    // head shortened as fit() shortens it for a tail of tailBytes bytes.
    static QString shortened(const QString &head, int tailBytes);
    static int bytes(const QString &name) { return name.toUtf8().size(); }
};
