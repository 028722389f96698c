#pragma once

#include "audio/SoundOutput.h"

#include <memory>

/**
 * Plays through primary, and through secondary whenever primary cannot reach its server: at once when Play is
 * refused for that reason, else as soon as IsActive finds that the stream failed before it started or was lost
 * (the sound starts again from its beginning on secondary). Every Play tries primary first, so a server that
 * comes back is used again. Prepared streams are primary's alone. Main thread only, as for any output.
 */
std::unique_ptr<ISoundOutput> WithFallback(std::unique_ptr<ISoundOutput> primary,
                                           std::unique_ptr<ISoundOutput> secondary);

/** True for the failures of an output that another output may not have: the server, or its stream. */
bool IsServerFailure(int error);
