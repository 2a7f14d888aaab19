# The layer rules of HACKING.md that include roots cannot hold, checked on the text of the sources
# under ROOT/src (cmake -DROOT=... -P SourceRules.cmake): each broken include is named with the
# rule it breaks, and the check fails.
#
# The rules are held by folder and file name, so that they stay true as providers move into
# their sound system's folder.

# The audio APIs of the sound systems, and Windows' own headers.
set(audio_headers "pulse/[^>]*|alsa/[^>]*|mmsystem\\.h|mmdeviceapi\\.h|endpointvolume\\.h|audioclient\\.h|audiopolicy\\.h|mmreg\\.h|functiondiscoverykeys[^>]*")
set(windows_headers "windows\\.h|objbase\\.h|combaseapi\\.h|io\\.h|shlobj\\.h|shellapi\\.h|winreg\\.h|tlhelp32\\.h|psapi\\.h")
# Where a sound system's own files are: its folder under mixer/.
set(provider_files "^src/mixer/(pulse|alsa|windows)/")
# Where Windows differs from POSIX: the Windows file of a pair (platform/AtomicFileWindows.cpp)
# or the Windows providers' folder.
set(windows_files "Windows\\.cpp$|^src/mixer/windows/")

if(NOT ROOT OR NOT IS_DIRECTORY ${ROOT}/src)
  message(FATAL_ERROR "source rules: no src/ under ROOT (${ROOT})")
endif()
file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/src/*.cpp ${ROOT}/src/*.h)
set(broken "")
foreach(source IN LISTS sources)
  file(STRINGS ${ROOT}/${source} lines REGEX "^[ \t]*#[ \t]*(include|if|elif)")
  foreach(line IN LISTS lines)
    set(rule "")
    if(source MATCHES "^src/ui/" AND line MATCHES "include[ \t]*\"([a-z]+)/"
       AND NOT CMAKE_MATCH_1 MATCHES "^(ui|engine|platform)$")
      set(rule "ui/ includes engine/ only")
    elseif(line MATCHES "include[ \t]*<(${audio_headers})>" AND NOT source MATCHES "${provider_files}")
      set(rule "only a provider's own files include its platform's audio headers")
    elseif(line MATCHES "include[ \t]*<(${windows_headers})>" AND NOT source MATCHES "${windows_files}")
      set(rule "Windows' own headers only in a Windows file (platform/NameWindows.cpp) or a Windows provider")
    elseif(line MATCHES "_WIN32" AND source MATCHES "^src/(engine|settings|listen)/")
      set(rule "the core asks platform/ where Windows differs, with no #ifdef of its own")
    endif()
    if(rule)
      string(STRIP "${line}" line)
      list(APPEND broken "${source}: ${line}: ${rule}")
    endif()
  endforeach()
endforeach()
if(broken)
  foreach(line IN LISTS broken)
    message("${line}")
  endforeach()
  message(FATAL_ERROR "layer rules broken")
endif()
list(LENGTH sources count)
message(STATUS "layer rules held by the text of ${count} sources")
