#include "AudioDecoderBase.h"

AudioDecoderBase::AudioDecoderBase(const std::string &fileName) : m_filename(fileName) {}

AudioDecoderBase::~AudioDecoderBase() = default;

int AudioDecoderBase::open() {
    return 0;
}

int AudioDecoderBase::read(int, float *) {
    return 0;
}

int AudioDecoderBase::seek(int) {
    return 0;
}

std::vector<std::string> AudioDecoderBase::supportedFileExtensions() {
    return {};
}
