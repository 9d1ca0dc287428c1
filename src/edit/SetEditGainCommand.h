#pragma once

#include <QSharedPointer>
#include <QUndoCommand>

class AudioEditGain;

// Sets a Gain edit's gain: one undo step per drag of its handle. The drag changes the
// gain as the mouse moves, so the command is pushed with the gain already applied.
class SetEditGainCommand : public QUndoCommand {
public:
    SetEditGainCommand(const QSharedPointer<AudioEditGain> &edit, float oldGain, float newGain,
                       QUndoCommand *parent = nullptr);
    ~SetEditGainCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<AudioEditGain> m_edit;
    float m_oldGain;
    float m_newGain;
};
