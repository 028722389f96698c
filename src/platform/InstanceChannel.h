#pragma once

#include <string>

/** The requests one copy of the program sends to the copy that is already running. */
namespace InstanceMessage {
constexpr int Show = 1425;   // dismiss a ringing alarm, then show the main window
constexpr int Exit = 1426;   // the orderly exit
constexpr int Param1 = 2109; // both parameters must match, or the request is ignored
constexpr int Param2 = 1973;
} // namespace InstanceMessage

/**
 * Proof that this process is the running copy of its executable: while it lives, requests from later
 * copies of the same executable, started by the same user, reach the callback given when it was
 * claimed, on the thread that claimed it. Requests whose parameters are not Param1 and Param2 never
 * reach the callback.
 *
 * Where the system offers no safe place for a channel, the claim still succeeds with a channel that
 * guards nothing: the program runs (it must never vanish without a word), beside any other copy.
 */
class InstanceChannel
{
public:
    InstanceChannel() = default;
    virtual ~InstanceChannel() = default;
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    /** Empty while this channel keeps other copies out; otherwise why it cannot, for the log. */
    virtual std::string GuardProblem() const { return {}; }
};
