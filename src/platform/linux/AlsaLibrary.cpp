#include "platform/linux/AlsaLibrary.h"

#include <dlfcn.h>

namespace {

void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

const AlsaLibrary* Load()
{
    void* handle = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    static AlsaLibrary library;
    bool complete = true;
#define LARKBELL_ALSA_RESOLVE(name)                                                                                    \
    library.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                                          \
    complete = complete && library.name;
    LARKBELL_ALSA_FUNCTIONS(LARKBELL_ALSA_RESOLVE)
#undef LARKBELL_ALSA_RESOLVE
    if (!complete) {
        dlclose(handle);
        return nullptr;
    }
    library.snd_lib_error_set_handler(quietAlsaErrors);
    return &library;
}

} // namespace

const AlsaLibrary* Alsa()
{
    static const AlsaLibrary* const library = Load();
    return library;
}
