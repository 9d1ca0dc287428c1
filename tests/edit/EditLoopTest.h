#pragma once

#include <QObject>

// Edit mode on a playing loop: the editable cache is swapped in under the running render
// and what render delivers follows every edit once its region has been reset.
class EditLoopTest : public QObject {
    Q_OBJECT
private slots:
    void editsReachThePlayingLoop();
};
