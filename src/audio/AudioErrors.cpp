#include "audio/AudioErrors.h"

std::string AudioErrorText(int code)
{
    switch (code) {
    case AudioError::None:
        return "no error";
    case AudioError::FileNotFound:
        return "file not found or not readable";
    case AudioError::FormatNotRecognised:
        return "file format not recognised";
    case AudioError::FileMalformed:
        return "file is damaged";
    case AudioError::EncodingNotSupported:
        return "encoding not supported";
    case AudioError::FileHasNoAudio:
        return "file holds no sound";
    case AudioError::FileReadFailed:
        return "file could not be read";
    case AudioError::AudioSystemFailed:
        return "sound client could not be set up";
    case AudioError::ServerNotFound:
        return "no sound server";
    case AudioError::ServerTimeout:
        return "sound server did not answer";
    case AudioError::ServerAccessDenied:
        return "sound server refused the connection";
    case AudioError::ServerConnectionFailed:
        return "connection to the sound server failed";
    case AudioError::ServerLost:
        return "connection to the sound server was lost";
    case AudioError::StreamCreateFailed:
        return "sound format cannot be played";
    case AudioError::StreamConnectFailed:
        return "sound server refused the stream";
    case AudioError::StreamTimeout:
        return "sound server did not start the stream";
    case AudioError::StreamFailed:
        return "stream broke while playing";
    case AudioError::DeviceOpenFailed:
        return "no sound device could be opened";
    case AudioError::DeviceFailed:
        return "sound device broke while playing";
    default:
        return "unknown error";
    }
}
