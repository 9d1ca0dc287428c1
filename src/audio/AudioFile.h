#pragma once

#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <cstdint>

class AudioFile;
// A reader is shared by the loop and every cache built over it, so it lives as long as
// the last of them (a fill running on the background reader keeps it alive too).
using AudioFilePtr = QSharedPointer<AudioFile>;

// Abstract reader: one audio file as a stream of interleaved stereo 32-bit floats.
// Every length, position and count counts samples of that stream (2 per frame); mono
// files are delivered with each value duplicated to left and right.
//
// A reader does all its opening work in its constructor. A file that cannot be opened,
// or that is refused (unreadable, no frames, a sample rate of 0 or above
// maxSampleRate, or more samples than an int index can hold), gives a reader of length 0
// that delivers nothing.
//
// Used by one thread at a time: built on the GUI thread, then read by the background
// reader thread. Readers hold no locks.
class AudioFile {
public:
    // Highest sample rate a file may declare before it is refused as corrupt.
    static constexpr int maxSampleRate = 768000;

    AudioFile() = default;
    virtual ~AudioFile();
    AudioFile(const AudioFile &) = delete;
    AudioFile &operator=(const AudioFile &) = delete;

    // Total number of samples the reader will deliver.
    virtual int length() = 0;
    // Frames per second of the file.
    virtual int sampleRate() = 0;
    // Delivers up to count samples into buffer and returns how many it delivered. A
    // short result means the stream has ended; the rest of the requested range is
    // zeroed (except by a reader of length 0, which leaves the buffer untouched).
    virtual int read(float *buffer, unsigned count) = 0;
    // Repositions so that the next read starts at sampleIndex (frame sampleIndex / 2).
    virtual int seek(unsigned sampleIndex) = 0;
    // The sample index at which the next read starts.
    virtual int position() = 0;
    // Frames the file's header declares beyond those the file holds: a file cut off
    // inside its audio data, which is read as far as it goes (length() ends where its
    // audio does). Known once the file is open for WAV, AIFF, FLAC and uncompressed AIFC
    // and CAF, and raised if WAV, AIFF or FLAC reading then ends early; 0 for a whole file
    // and for files whose headers declare no exact length (compressed audio, a FLAC
    // written without one). Any thread, once the reading thread's reads are over.
    virtual long long missingFrames() const { return 0; }
    // Channels of the file itself (1 for mono, which the stream spreads to both sides);
    // 0 for a reader of length 0. Files of more than two deliver silence.
    virtual int channels() const { return 0; }
    // 16 or 24 when every value read() delivers is an integer of that many bits divided
    // by 2^(bits - 1), so that a cache may keep the samples as integers without loss; 0
    // when the values need floats (float files, lossy codecs decoded to float).
    virtual int integerBits() { return 0; }
    // For a reader whose integerBits() is 16: like read(), but delivers the integers
    // themselves, sparing two conversions. -1 when the reader has no such path (read()
    // then has to be used).
    virtual int readInt16(std::int16_t *buffer, unsigned count) {
        (void)buffer;
        (void)count;
        return -1;
    }

    // Chooses the reader by the file name's extension (case ignored): ".wav", ".aif"
    // and ".aiff" go to libsndfile, ".flac" to libFLAC, everything else to the
    // compressed-audio decoder. When that reader cannot open the file, its content
    // chooses (WAV, RF64 and AIFF go to libsndfile, FLAC to libFLAC, anything else to
    // the decoder, which probes it). A FLAC in which libFLAC finds no STREAMINFO (an
    // ID3v2 tag with a footer in front hides it) goes to the decoder as well. When no
    // reader opens it, the reader its name chose is returned, empty. Never returns null.
    static AudioFilePtr createForPath(const QString &path);
    enum class ReaderKind { SndFile, Flac, Decoder };
    // The reader a file's first bytes call for, whatever its name says: WAV (RIFF, RF64,
    // BW64) and AIFF go to libsndfile, FLAC (also behind an ID3 tag) to libFLAC, and
    // everything else (MP3, AAC, Ogg, WMA, or bytes nobody recognises) to FFmpeg, which
    // probes the content itself.
    static ReaderKind readerForContent(const QString &path);
    // The file name suffixes (lower case, no dot) offered when opening audio.
    static QStringList openableSuffixes();
    // What about the path itself keeps it from being read, in a few words ("no such
    // file", "not a regular file", "permission denied"); empty when nothing does (its
    // bytes may still not be audio).
    static QString pathProblem(const QString &path);
    // The words for a file that is there and readable but holds no audio a reader opens.
    static QString notAudioReason();

    // Shared validation of what a container declares: true if a stream of this many
    // interleaved samples at this rate can be loaded.
    static bool isLoadable(long long samples, long long rate);

    // Any thread. Set by a program that is stopping (the command line's first Ctrl+C):
    // a reader still reading a whole file to count its length at open (a WMA is decoded
    // through, a FLAC without its count too) gives up and opens empty, and so does every
    // reader opened after, until it is cleared.
    static void setOpeningStopped(bool stopped);
    static bool openingStopped();
};
