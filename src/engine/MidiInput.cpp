#include "MidiInput.h"

#include "EngineLogging.h"
#include "MidiProcessor.h"
#include "RealtimeEvents.h"
#include "Settings.h"

namespace {
// PortMidi's initialisation is not counted by the library itself: the device list
// and an open input share it, and the last one out terminates it. GUI thread.
int &portMidiUsers()
{
    static int users = 0;
    return users;
}

PmError acquirePortMidi()
{
    if (portMidiUsers() == 0) {
        const PmError err = Pm_Initialize();
        if (err != pmNoError)
            return err;
    }
    ++portMidiUsers();
    return pmNoError;
}

void releasePortMidi()
{
    if (portMidiUsers() > 0 && --portMidiUsers() == 0)
        Pm_Terminate();
}

QStringList &midiList()
{
    static QStringList list;
    return list;
}
} // namespace

MidiInput::MidiInput(BankSampler *samplerBank, LoopingSamplerBank *looperBank)
    : m_samplerBank(samplerBank), m_looperBank(looperBank)
{
    bool ok = false;
    const int note = Settings::instance().value("MidiDeviceBaseNote").toInt(&ok);
    m_baseNote = ok ? note : 36;
}

MidiInput::~MidiInput()
{
    closeMidiDevice();
}

void MidiInput::setReceiver(MidiProcessor *receiver)
{
    QMutexLocker locker(&m_lock);
    m_receiver = receiver;
}

int MidiInput::openMidiDevice()
{
    QMutexLocker locker(&m_lock);
    if (m_stream)
        return 0;
    const QString entry = Settings::instance().value("MidiDevice");
    if (entry.isEmpty() || entry == QLatin1String("None"))
        return 0;

    bool ok = false;
    PmDeviceID id = entry.section('.', 0, 0).toInt(&ok);
    if (!ok)
        id = -1;
    qCDebug(lcEngine) << "MidiDevice: Parsed devId" << id;

    const PmError err = acquirePortMidi();
    if (err != pmNoError) {
        qCDebug(lcEngine) << "PortMidi error:" << Pm_GetErrorText(err);
        return 1;
    }
    m_holdsPortMidi = true;

    if (Pm_CountDevices() == 0)
        return 0;
    const PmDeviceInfo *info = id >= 0 ? Pm_GetDeviceInfo(id) : nullptr;
    if (!info || !info->input) {
        id = Pm_GetDefaultInputDeviceID();
        info = id >= 0 ? Pm_GetDeviceInfo(id) : nullptr;
    }
    if (!info)
        return 0;

    qCDebug(lcEngine) << "Opening" << info->name;
    const PmError openErr = Pm_OpenInput(&m_stream, id, nullptr, kEventBufferSize, nullptr, nullptr);
    if (openErr != pmNoError) {
        m_stream = nullptr;
        qCDebug(lcEngine) << "PortMidi error:" << Pm_GetErrorText(openErr);
        return 1;
    }
    return 0;
}

int MidiInput::closeMidiDevice()
{
    QMutexLocker locker(&m_lock);
    int result = 0;
    if (m_stream) {
        const PmError err = Pm_Close(m_stream);
        m_stream = nullptr;
        if (err != pmNoError) {
            qCDebug(lcEngine) << "PortMidi error:" << Pm_GetErrorText(err);
            result = 1;
        }
    }
    if (m_holdsPortMidi) {
        m_holdsPortMidi = false;
        releasePortMidi();
    }
    return result;
}

// Sound-card thread: no allocation, no file I/O, no blocking lock.
int MidiInput::pollMidi()
{
    if (!m_lock.tryLock())
        return 0;
    int result = 0;
    if (m_stream) {
        result = Pm_Read(m_stream, m_events, kEventBufferSize);
        if (result > 0)
            processEvents(m_events, result);
    }
    m_lock.unlock();
    return result;
}

namespace {
constexpr int kEndOfSysex = 0xF7;

bool isStatusByte(int byte) { return (byte & 0x80) != 0; }
bool isRealTime(int byte) { return byte >= 0xF8; }

// PortMidi packs a system-exclusive message four bytes to an event, low byte first, so
// the end byte may sit in any of the four.
bool holdsEndOfSysex(uint32_t message, int firstByte)
{
    for (int i = firstByte; i < 4; ++i) {
        if (int((message >> (8 * i)) & 0xFF) == kEndOfSysex)
            return true;
    }
    return false;
}
} // namespace

// Sound-card thread (from pollMidi): no allocation, no file I/O, no blocking lock.
void MidiInput::finishSysex(int status)
{
    if (m_forwardSysex)
        m_receiver->processSysex(status, m_baseNote);
    m_inSysex = false;
    m_forwardSysex = false;
    RealtimeEvents::note(RealtimeEvents::MidiSysexFinished);
}

// Sound-card thread (from pollMidi): no allocation, no file I/O, no blocking lock.
void MidiInput::processEvents(const PmEvent *events, int eventCount)
{
    QMutexLocker locker(&m_lock);
    if (!m_receiver)
        return;
    for (int i = 0; i < eventCount; ++i) {
        const auto message = static_cast<uint32_t>(events[i].message);
        const int status = MidiProcessor::status(message);
        const int data1 = MidiProcessor::data1(message);
        if (m_inSysex) {
            // A real-time message may arrive in the middle of a sysex, always in an event
            // of its own; it neither ends the sysex nor plays anything.
            if (isRealTime(status))
                continue;
            if (!isStatusByte(status) || status == kEndOfSysex) {
                if (holdsEndOfSysex(message, 0))
                    finishSysex(status);
                continue;
            }
            // Any other status byte cuts the sysex short and begins the next message. A
            // message that lost its end is not handed on as if it were whole.
            m_forwardSysex = false;
            finishSysex(status);
        }
        if ((status & 0xF0) == 0x90 || status == 0x80) {
            m_receiver->processMidiMessage(message, m_baseNote);
        } else if (status == 0xF0) {
            m_inSysex = true;
            m_forwardSysex = data1 == 0x7F;
            if (holdsEndOfSysex(message, 1))
                finishSysex(status);
        }
    }
}

QStringList midiDeviceList()
{
    QStringList &list = midiList();
    list.clear();
    const PmError err = acquirePortMidi();
    if (err != pmNoError) {
        qCDebug(lcEngine) << "PortMidi error:" << Pm_GetErrorText(err);
        return list;
    }
    const int count = Pm_CountDevices();
    for (int i = 0; i < count; ++i) {
        const PmDeviceInfo *info = Pm_GetDeviceInfo(i);
        if (info && info->input)
            list.append(QString("%1. %2").arg(i).arg(QString::fromUtf8(info->name)));
    }
    releasePortMidi();
    return list;
}
