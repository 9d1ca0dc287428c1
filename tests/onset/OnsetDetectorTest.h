#pragma once

#include <QObject>

class OnsetDetectorTest : public QObject {
    Q_OBJECT
private slots:
    void slicesStartAtOrJustBeforeEachHit();
    void softHatUnderATailStillStartsBeforeItsAttack();
    void softHatsUnderALoudSnareAreFoundAtTheDefault();
    void faintHitsInHissStartBeforeTheirAttack();
    void kicksUnderARingingHatStartAtTheKick();
    void clicksAndLowSampleRatesAreCutAtTheirHits();
    void aBassLineIsCutAtItsNotesNotInItsFadingTail();
    void aStringPadIsCutAtItsChordsNotAtItsShimmer();
    void aQuietIntroKeepsItsHitsUpToTheDrop();
    void softStrokesInTheGrooveOutrankEqualBumpsBetweenIt();
    void raisingSensitivityOnlyAddsPoints();
    void minimumLengthAndRegionAreRespected();
    void silenceShortAndBrokenInputGiveNothing();
};
