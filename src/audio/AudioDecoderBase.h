#pragma once

#include <string>
#include <vector>

// The generic face of a compressed-audio decoder: a file name (UTF-8) and the stream's
// shape. Samples are counted over all channels (frames x channels). The base class
// decodes nothing; AudioDecoder does.
class AudioDecoderBase {
public:
    explicit AudioDecoderBase(const std::string &fileName);
    virtual ~AudioDecoderBase();
    AudioDecoderBase(const AudioDecoderBase &) = delete;
    AudioDecoderBase &operator=(const AudioDecoderBase &) = delete;

    int channels() const { return m_iChannels; }
    float duration() const { return m_fDuration; }
    virtual int numSamples() const { return m_iNumSamples; }
    int positionInSamples() const { return m_iPositionInSamples; }
    int sampleRate() const { return m_iSampleRate; }

    // 0 on success.
    virtual int open();
    // Writes up to `size` samples (interleaved, the file's own channel layout) to
    // `buffer`; returns how many were written.
    virtual int read(int size, float *buffer);
    // Repositions to `sampleIdx`; returns the new position in samples.
    virtual int seek(int sampleIdx);

    static std::vector<std::string> supportedFileExtensions();

protected:
    std::string m_filename;
    int m_iNumSamples = 0;
    int m_iChannels = 0;
    int m_iSampleRate = 0;
    float m_fDuration = 0.0f;
    int m_iPositionInSamples = 0;
};
