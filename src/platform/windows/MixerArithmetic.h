#pragma once

#include <algorithm>
#include <cstdint>

/**
 * Percent on a hardware mixer's volume control, in its own units: the rules TVolumeSetForm applies to
 * an IVolumeMixer, in plain C++ so that they can be checked against the winmm mixer where Qt is absent.
 */
namespace MixerArithmetic {

/** Units per percent: (maximum - minimum) div 100, but at least 1 so that a short control still divides. */
constexpr std::uint32_t Step(std::uint32_t minimum, std::uint32_t maximum)
{
    return std::max<std::uint32_t>(1, (maximum - minimum) / 100);
}

/** The value written for `percent`, kept inside the control's range. */
constexpr std::uint32_t ValueFor(unsigned percent, std::uint32_t step, std::uint32_t minimum, std::uint32_t maximum)
{
    return std::clamp<std::uint32_t>(percent * step, minimum, maximum);
}

/** The percent a value reads as. */
constexpr unsigned PercentOf(std::uint32_t value, std::uint32_t step)
{
    return value / step;
}

/** `value` raised by `percent`, at most to the maximum. */
constexpr std::uint32_t Raised(std::uint32_t value, unsigned percent, std::uint32_t step, std::uint32_t maximum)
{
    const std::uint64_t raised = std::uint64_t{value} + std::uint64_t{percent} * step;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(raised, maximum));
}

/** `value` lowered by `percent`; a result below the minimum, including an unsigned wrap below zero, is the minimum. */
constexpr std::uint32_t Lowered(std::uint32_t value, unsigned percent, std::uint32_t step, std::uint32_t minimum)
{
    const std::uint32_t lowered = value - percent * step;
    const bool wrapped = lowered > value;
    return wrapped || lowered < minimum ? minimum : lowered;
}

} // namespace MixerArithmetic
