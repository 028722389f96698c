#pragma once

#include <string>

// The numbers shown after "Error code: " in sound warnings and written to the debug log.
// The table is repeated for users in docs/audio-errors.md; keep both in step.
namespace AudioError {
enum Code : int {
    None = 0,

    // 1xx: the file or its decoding
    FileNotFound = 101,        // missing, or not readable by this user
    FormatNotRecognised = 102, // no decoder for this kind of file (WMA, text, ...)
    FileMalformed = 103,       // the decoder recognised the format but the data is broken
    EncodingNotSupported = 104,
    FileHasNoAudio = 105, // decodes to zero samples
    FileReadFailed = 106, // any other failure while opening or reading

    // 2xx: the sound server
    AudioSystemFailed = 201,  // the client side could not be set up (out of memory, thread)
    ServerNotFound = 202,     // no server listens (not running, no socket)
    ServerTimeout = 203,      // a server exists but did not answer within the connect timeout
    ServerAccessDenied = 204, // refused by the server (permissions, cookie)
    ServerConnectionFailed = 205,
    ServerLost = 206, // the connection broke while playing

    // 3xx: the playback stream
    StreamCreateFailed = 301,  // the decoded format cannot be played (rate, channels)
    StreamConnectFailed = 302, // the server refused the stream (no output device)
    StreamTimeout = 303,       // the server did not start the stream in time
    StreamFailed = 304,        // the stream broke while playing

    // 4xx: a sound device played directly, without the server
    DeviceOpenFailed = 401, // no device could be opened for the sound's format
    DeviceFailed = 402,     // the device broke while playing
};
} // namespace AudioError

/** A short English description of an AudioError code, for the debug log. */
std::string AudioErrorText(int code);
