#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The icon of an equal-slicing tool button: the slicing picture with the number of slices
// as a badge. Each size is drawn with its own text at 1x and 2x device pixel ratio, so the
// digits land on whole pixels and stay sharp; a badge scaled down from one bitmap blurs.
class SliceCountIcon {
public:
    static QIcon make(const QString &picture, int count);
    // One rendering: size × size logical pixels at the device pixel ratio.
    static QPixmap render(const QString &picture, int count, int size, int devicePixelRatio);
};
