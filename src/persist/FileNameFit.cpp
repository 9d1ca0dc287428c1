#include "FileNameFit.h"

#include <QTextBoundaryFinder>

QString FileNameFit::fit(const QString &head, const QString &tail) {
    return shortened(head, bytes(tail)) + tail;
}

QString FileNameFit::shortened(const QString &head, int tailBytes) {
    const int room = kMaxNameBytes - tailBytes;
    if (bytes(head) <= room)
        return head;
    // Cut only between characters as the user sees them: never inside a UTF-8 sequence,
    // a surrogate pair or between a letter and its combining accent.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, head);
    int end = 0;
    int used = 0;
    for (int next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        const int size = bytes(head.mid(end, next - end));
        if (used + size > room)
            break;
        used += size;
        end = next;
    }
    QString out = head.left(end);
    while (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}
