#pragma once

#include "audio/AudioErrors.h"
#include "audio/SoundDecoder.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

/**
 * Where decoded sound goes: one stream at a time, played on the output's own thread. No member waits for the
 * sound system: connecting and starting a stream go on in the background, and their outcome is seen through
 * IsActive, HasStarted and LastError, and for connections through the listener.
 */
class ISoundOutput
{
public:
    /** Told the outcome of every attempt to connect: 0 when connected, else an AudioError code. */
    using ConnectListener = std::function<void(int error)>;

    virtual ~ISoundOutput() = default;
    ISoundOutput(const ISoundOutput&) = delete;
    ISoundOutput& operator=(const ISoundOutput&) = delete;

    /**
     * Called on the output's own thread, or inside Connect when the answer is known at once; must return at once
     * (post the news to the thread that needs it). Cleared with an empty function; after that returns, no call is
     * in progress or follows.
     */
    virtual void SetConnectListener(ConnectListener listener) = 0;
    /**
     * Starts connecting to the sound system unless connected or connecting; returns at once. 0 or an AudioError code
     * known without the server (the attempt could not even start); the outcome of a started attempt goes to the
     * listener, which is told at once when already connected.
     */
    virtual int Connect() = 0;
    /**
     * Stops any current stream and starts decoder's sound, from the start again at its end when loop; returns at
     * once, connecting first when needed. 0 when the start is under way, else an AudioError code known without the
     * server (such as a format no stream can take).
     */
    virtual int Play(std::unique_ptr<ISoundDecoder> decoder, bool loop) = 0;
    /**
     * True from a successful Play until the sound has been heard to its end, Stop, or a failure: also while the
     * start is still under way.
     */
    virtual bool IsActive() const = 0;
    /** True once the server has accepted the current stream; false while it starts and when it never did. */
    virtual bool HasStarted() const = 0;
    /** Why the last stream failed to start or ended early, or 0. */
    virtual int LastError() const = 0;
    /** Stops and releases the current stream, or the start under way; harmless when nothing plays. */
    virtual void Stop() = 0;
    /**
     * Makes a paused stream for decoder's sound and lets the server buffer its start, so that StartPrepared has
     * only to release it; returns at once like Play, and stops any current stream. While prepared, nothing plays
     * and IsActive is false. An output that cannot prepare returns an AudioError code, and the caller plays.
     */
    virtual int Prepare(std::unique_ptr<ISoundDecoder> decoder, bool loop)
    {
        (void)decoder;
        (void)loop;
        return AudioError::StreamCreateFailed;
    }
    /** Starts the stream Prepare made; false when there is none or it failed (then Play it instead). */
    virtual bool StartPrepared() { return false; }

protected:
    ISoundOutput() = default;
};

struct SoundOutputOptions {
    std::chrono::milliseconds connectTimeout{2000}; // bounds an attempt to connect, and then the start of a stream
    std::chrono::milliseconds bufferLength{200};    // sound queued ahead at the server
};

/** The output of this operating system. */
std::unique_ptr<ISoundOutput> CreateSoundOutput(const SoundOutputOptions& options = {});

/**
 * The output an alarm plays through when the sound server cannot be reached: a sound device straight away.
 * nullptr where there is none.
 */
std::unique_ptr<ISoundOutput> CreateFallbackSoundOutput();

/** Opens path with the built-in decoder and starts it on output; 0 or an AudioError code known at once. */
inline int PlaySoundFile(ISoundOutput& output, const std::string& path, bool loop)
{
    DecoderResult opened = OpenSoundFile(path);
    if (!opened.decoder)
        return opened.error;
    return output.Play(std::move(opened.decoder), loop);
}
