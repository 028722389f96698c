#include "platform/WakeTimer.h"

const char* WakePathName(WakePath path)
{
    switch (path) {
    case WakePath::RealtimeAlarm:
        return "real-time alarm";
    case WakePath::PowerDaemon:
        return "power daemon";
    case WakePath::None:
        break;
    }
    return "none";
}
