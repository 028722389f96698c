#pragma once

#include "SoundDecoder.h"

#include <chrono>
#include <memory>

/** Where decoded sound goes: one stream at a time, played on the output's own thread. */
class ISoundOutput
{
public:
    virtual ~ISoundOutput() = default;
    ISoundOutput(const ISoundOutput&) = delete;
    ISoundOutput& operator=(const ISoundOutput&) = delete;

    /** Connects to the sound system if not yet connected; 0 or an AudioError code. Never blocks longer than the connect
     * timeout. */
    virtual int Connect() = 0;
    /** Stops any current stream and plays decoder's sound, from the start again at its end when loop; 0 or an
     * AudioError code. */
    virtual int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) = 0;
    /** True from a successful Play until the sound has been heard to its end, Stop, or a failure. */
    virtual bool IsActive() const = 0;
    /** Why the last stream ended early, or 0. */
    virtual int LastError() const = 0;
    /** Stops and releases the current stream; harmless when nothing plays. */
    virtual void Stop() = 0;

protected:
    ISoundOutput() = default;
};

struct SoundOutputOptions {
    std::chrono::milliseconds connectTimeout{2000}; // also bounds the wait for a stream to start
    std::chrono::milliseconds bufferLength{200};    // sound queued ahead at the server
};

/** The output of this operating system. */
std::unique_ptr<ISoundOutput> CreateSoundOutput(const SoundOutputOptions& options = {});

/** Opens path with the built-in decoder and plays it on output; 0 or an AudioError code. */
inline int PlaySoundFile(ISoundOutput& output, const std::string& path, bool loop)
{
    DecoderResult opened = OpenSoundFile(path);
    if (!opened.decoder)
        return opened.error;
    return output.Play(std::move(opened.decoder), loop);
}
