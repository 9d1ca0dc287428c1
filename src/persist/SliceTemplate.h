#pragma once

#include <QList>
#include <QString>
#include <QVector>

class QUndoStack;
class Trevant;

// A slicing layout that can be put onto another loop (.qlst files). Each slice point is
// kept as a fraction of the trim region it was made in, so the layout stretches to a
// loop of any length, and as its absolute position, used when the template goes back
// onto a loop of the very same length and trim region.
//
// The file is XML:
//   <!DOCTYPE slicetemplate>
//   <slicetemplate version="1" length="…" trimstart="…" trimend="…" samplerate="…">
//    <slicepoint relative="0.25" position="88200"/>
//   </slicetemplate>
class SliceTemplate {
public:
    static constexpr int kVersion = 1;
    // Larger files are refused unread; no real layout comes near either limit.
    static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;
    static constexpr int kMaxPoints = 100000;

    struct Point {
        double relative = 0.0; // 0 … 1 across the trim region
        int position = -1;     // absolute, or -1 when the file has none
    };

    // The slicer's current layout (empty without a loop).
    static SliceTemplate fromSlicer(Trevant *slicer);
    // A layout from points of a loop with the given trim region and length.
    static SliceTemplate fromPoints(const QList<int> &points, int trimStart, int trimEnd, int length,
                                    int sampleRate);

    // Writes the file atomically; false with a message for the user.
    bool save(const QString &path, QString *error) const;
    // Reads and checks a file; false with a message for the user when it is missing,
    // too large, damaged or not a slice template (out is then unchanged).
    static bool load(const QString &path, SliceTemplate *out, QString *error);
    // The checks of load() on the bytes of a file; path only names it in messages.
    static bool fromBytes(const QByteArray &bytes, const QString &path, SliceTemplate *out, QString *error);

    // The slice points for a loop of this length and trim region: fitted, rounded down
    // to whole frames, strictly inside the trim region, sorted and without duplicates.
    QList<int> fit(int trimStart, int trimEnd, int length) const;

    // Loads path and fits it to the slicer's loop and trim region, without changing the
    // slicer. False with a message when the file is refused or no loop is loaded.
    static bool fittedPoints(Trevant *slicer, const QString &path, QList<int> *points, QString *error);
    // Loads path and replaces the slicer's slice points with the fitted layout, as one
    // undoable step when stack is given. False with a message when the file is refused
    // or no loop is loaded; the slicing is then unchanged. Defined beside the undo
    // command: in Qt 5 the undo classes live in the widgets module, which the core
    // library (and the command line) does not link.
    static bool loadInto(Trevant *slicer, const QString &path, QUndoStack *stack, QString *error);
    // Saves the slicer's layout to the path a save dialog returned, with ".qlst" added
    // unless the suffix is exactly "qlst"; writtenPath receives the path used.
    static bool saveFrom(Trevant *slicer, const QString &chosenPath, QString *error,
                         QString *writtenPath = nullptr);

    // The save dialog's rule: ".qlst" is added unless the suffix is exactly "qlst".
    static QString withTemplateSuffix(const QString &path);
    // A dropped file is a template when its suffix is exactly "qlst".
    static bool isTemplatePath(const QString &path);

    QVector<Point> points() const { return m_points; }
    int sourceLength() const { return m_iLength; }
    int sourceTrimStart() const { return m_iTrimStart; }
    int sourceTrimEnd() const { return m_iTrimEnd; }

private:
    QVector<Point> m_points;
    int m_iLength = -1;
    int m_iTrimStart = -1;
    int m_iTrimEnd = -1;
    int m_iSampleRate = 0;
};
