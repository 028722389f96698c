#pragma once

#include <alsa/asoundlib.h>

// The sound card library is needed only when no sound server answers, which on a desktop is rare, so
// it is loaded on first use instead of with the program: merely loading it costs a tray clock about
// a quarter of a megabyte that would sit unused for the whole session.
#define LARKBELL_ALSA_FUNCTIONS(X)                                                                                     \
    X(snd_lib_error_set_handler)                                                                                       \
    X(snd_pcm_open)                                                                                                    \
    X(snd_pcm_nonblock)                                                                                                \
    X(snd_pcm_set_params)                                                                                              \
    X(snd_pcm_writei)                                                                                                  \
    X(snd_pcm_recover)                                                                                                 \
    X(snd_pcm_drain)                                                                                                   \
    X(snd_pcm_drop)                                                                                                    \
    X(snd_pcm_close)                                                                                                   \
    X(snd_mixer_open)                                                                                                  \
    X(snd_mixer_attach)                                                                                                \
    X(snd_mixer_load)                                                                                                  \
    X(snd_mixer_handle_events)                                                                                         \
    X(snd_mixer_close)                                                                                                 \
    X(snd_mixer_find_selem)                                                                                            \
    X(snd_mixer_selem_register)                                                                                        \
    X(snd_mixer_selem_id_malloc)                                                                                       \
    X(snd_mixer_selem_id_free)                                                                                         \
    X(snd_mixer_selem_id_set_index)                                                                                    \
    X(snd_mixer_selem_id_set_name)                                                                                     \
    X(snd_mixer_selem_is_playback_mono)                                                                                \
    X(snd_mixer_selem_has_playback_volume)                                                                             \
    X(snd_mixer_selem_has_playback_switch)                                                                             \
    X(snd_mixer_selem_get_playback_volume_range)                                                                       \
    X(snd_mixer_selem_get_playback_volume)                                                                             \
    X(snd_mixer_selem_set_playback_volume_all)                                                                         \
    X(snd_mixer_selem_get_playback_switch)                                                                             \
    X(snd_mixer_selem_set_playback_switch_all)

/** The entry points of libasound this program calls, named as the library names them. */
struct AlsaLibrary {
#define LARKBELL_ALSA_MEMBER(name) decltype(&::name) name = nullptr;
    LARKBELL_ALSA_FUNCTIONS(LARKBELL_ALSA_MEMBER)
#undef LARKBELL_ALSA_MEMBER
};

/**
 * libasound, loaded by the first call (from any thread) and kept for the rest of the run; nullptr when it
 * is not installed or lacks one of the entry points, which callers treat as a machine without a sound card.
 * Its error messages on stderr are silenced: no card is an expected case here.
 */
const AlsaLibrary* Alsa();
