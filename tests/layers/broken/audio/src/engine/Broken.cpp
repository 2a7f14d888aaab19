// The engine speaking to the sound server itself.
#include <pulse/pulseaudio.h>
