# Finds the audio libraries of the platform's mixer providers; each provider is built only where
# its library is found. Sets HUSHWELL_HAVE_PULSE, HUSHWELL_HAVE_ALSA, HUSHWELL_HAVE_ENDPOINT_VOLUME
# and HUSHWELL_HAVE_WINMM.
set(HUSHWELL_HAVE_PULSE OFF)
set(HUSHWELL_HAVE_ALSA OFF)
set(HUSHWELL_HAVE_ENDPOINT_VOLUME OFF)
set(HUSHWELL_HAVE_WINMM OFF)
if(WIN32)
  set(HUSHWELL_HAVE_ENDPOINT_VOLUME ON)
  set(HUSHWELL_HAVE_WINMM ON)
else()
  find_package(PkgConfig)
  if(PkgConfig_FOUND)
    pkg_check_modules(PULSE IMPORTED_TARGET GLOBAL libpulse)
    set(HUSHWELL_HAVE_PULSE ${PULSE_FOUND})
  endif()
  find_package(ALSA)
  set(HUSHWELL_HAVE_ALSA ${ALSA_FOUND})
endif()
message(STATUS "Mixer providers: PulseAudio ${HUSHWELL_HAVE_PULSE}, ALSA ${HUSHWELL_HAVE_ALSA}, "
               "endpoint volume ${HUSHWELL_HAVE_ENDPOINT_VOLUME}, winmm ${HUSHWELL_HAVE_WINMM}")
