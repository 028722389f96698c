#pragma once

#include "audio/SoundDecoder.h"

#include <cstdint>
#include <memory>

/**
 * Gain of frame `frame` of a sound that rises from silence to full over rampFrames frames, 0..1. The gain
 * follows a volume slider pushed steadily from 0 % to 100 %: the cube of the fraction gone, as the sound
 * server maps a volume percent to an amplitude. 1 from rampFrames on, and always when rampFrames is 0 or less.
 */
float RampGain(std::int64_t frame, std::int64_t rampFrames);

/**
 * decoder with its samples scaled by RampGain over rampSeconds, counted in frames delivered: the ramp
 * goes on across the rewinds of a looping sound and starts with the first sample the stream plays, so a
 * stream that waits with its start buffered ramps from the moment it is released. rampSeconds of 0 or
 * less gives decoder back unchanged.
 */
std::unique_ptr<ISoundDecoder> WithRamp(std::unique_ptr<ISoundDecoder> decoder, int rampSeconds);
