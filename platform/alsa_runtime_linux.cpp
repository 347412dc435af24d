// The portable Linux build links no sound library: SDL opens ALSA itself when it is there. The sound layer's one
// direct ALSA call (silencing ALSA's probe messages) is forwarded here to the ALSA that SDL will use, and does
// nothing on a machine without it.
#include <alsa/asoundlib.h>

#include <dlfcn.h>

extern "C" int snd_lib_error_set_handler(snd_lib_error_handler_t handler) {
    using SetHandler = int (*)(snd_lib_error_handler_t);
    // Kept open for the whole run: SDL loads the same library by the same name and shares this handler.
    static void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
    if (alsa == nullptr) return 0;
    auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"));
    return set ? set(handler) : 0;
}
