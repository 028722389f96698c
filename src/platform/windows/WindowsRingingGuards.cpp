#include "platform/RingingGuards.h"

// Media keys and sleep requests are not handled on Windows yet: an alarm there rings without either guard.
std::unique_ptr<MediaPause> CreateMediaPause()
{
    return nullptr;
}

std::unique_ptr<SleepInhibitor> CreateSleepInhibitor()
{
    return nullptr;
}
