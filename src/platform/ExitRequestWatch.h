#pragma once

/**
 * Delivers the system's requests to end the program (on Linux the termination signals a session, a
 * shutdown or kill send) while it lives; the callback given to its factory runs on the thread that
 * created it, inside its event loop, never inside a signal handler.
 */
class ExitRequestWatch
{
public:
    ExitRequestWatch() = default;
    virtual ~ExitRequestWatch() = default;
    ExitRequestWatch(const ExitRequestWatch&) = delete;
    ExitRequestWatch& operator=(const ExitRequestWatch&) = delete;
};
