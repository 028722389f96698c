#include "platform/RingingGuards.h"

RingingGuards::RingingGuards(std::unique_ptr<MediaPause> media, std::unique_ptr<SleepInhibitor> sleep)
    : m_media(std::move(media))
    , m_sleep(std::move(sleep))
{}

RingingGuards::~RingingGuards()
{
    Dismissed();
}

void RingingGuards::Ringing()
{
    // Also after a snooze: a player started between the two rings is paused too.
    if (m_media)
        m_media->PausePlayers();
    if (m_sleep)
        m_sleep->Hold();
    m_state = State::Ringing;
}

void RingingGuards::Snoozed()
{
    if (m_state != State::Ringing)
        return;
    if (m_sleep)
        m_sleep->Release();
    m_state = State::Snoozed;
}

void RingingGuards::Dismissed()
{
    if (m_state == State::Idle)
        return;
    if (m_sleep)
        m_sleep->Release();
    if (m_media)
        m_media->ResumePlayers();
    m_state = State::Idle;
}

void RingingGuards::SnoozeCancelled()
{
    if (m_state == State::Snoozed)
        Dismissed();
}
