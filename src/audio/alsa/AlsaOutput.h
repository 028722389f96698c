#pragma once

#include "audio/SoundOutput.h"

#include <memory>
#include <string>
#include <vector>

/**
 * The devices AlsaOutput tries, in order: only the one LARKBELL_ALSA_DEVICE names when it is set, else "default" (the
 * user's own choice; where it routes through a dead sound server it fails to open at once), then the first card's
 * hardware, converted and raw.
 */
std::vector<std::string> AlsaDeviceNames();

/**
 * Sound straight to an ALSA device, for when the sound server cannot be reached. Each Play runs on a thread of
 * its own that opens the device, decodes and writes; nothing here waits for it, so a device that hangs in its
 * open holds up only that thread. Samples go out as 16-bit integers, which every card and plug-in takes.
 */
std::unique_ptr<ISoundOutput> CreateAlsaOutput(std::vector<std::string> devices = AlsaDeviceNames());
