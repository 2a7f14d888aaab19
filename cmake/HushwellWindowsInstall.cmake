# Windows: `cmake --install` gives a folder that runs as it is, from anywhere: hushwell.exe, the Qt
# DLLs and the two plugins it loads, the compiler's runtime DLLs, README.txt and LICENSE.txt, all
# stripped. CPack packs that folder as a portable ZIP and as a per-user NSIS installer.

# The Qt targets of src/ui are not visible here.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)

install(TARGETS hushwell RUNTIME DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
set(stripped hushwell.exe $<TARGET_FILE_NAME:Qt6::Core> $<TARGET_FILE_NAME:Qt6::Gui>
             $<TARGET_FILE_NAME:Qt6::Widgets>
             platforms/$<TARGET_FILE_NAME:Qt6::QWindowsIntegrationPlugin>
             styles/$<TARGET_FILE_NAME:Qt6::QWindowsVistaStylePlugin>)

if(MINGW)
  # The Qt DLLs need the compiler's C++ runtime, and hushwell.exe uses the same DLLs rather than a
  # second, static copy of it.
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
    endif()
    file(REAL_PATH "${path}" path)
    install(FILES "${path}" DESTINATION .)
    list(APPEND stripped ${dll})
  endforeach()

  # Debian ships the runtime DLLs with their symbols (libstdc++-6.dll: 24 MB), and a plain
  # `cmake --install` does not strip: strip every binary the rules above install.
  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "No strip for the Windows binaries (CMAKE_STRIP)")
  endif()
  # The program loses every symbol; a DLL keeps those that relocation needs.
  install(CODE "
    foreach(file ${stripped})
      set(how --strip-unneeded)
      if(file MATCHES [[\\.exe$]])
        set(how --strip-all)
      endif()
      execute_process(COMMAND \"${CMAKE_STRIP}\" \${how}
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${file}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()")
endif()

# README and licence as Windows text files. The licence is the MIT text of data/copyright.
set(text_dir ${CMAKE_BINARY_DIR}/windows)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/data/copyright)
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
file(READ ${PROJECT_SOURCE_DIR}/data/copyright copyright)
string(REGEX MATCH "\nCopyright: ([^\n]*)" _ "${copyright}")
set(holder "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nLicense: ([^\n]*)\n(.*)$" _ "${copyright}")
set(licence_name "${CMAKE_MATCH_1}")
set(licence "${CMAKE_MATCH_2}")
if(NOT holder OR NOT licence_name OR NOT licence)
  message(FATAL_ERROR "data/copyright has no Copyright or License field")
endif()
# Debian's format indents the text by one space and writes an empty line as " .".
string(REGEX REPLACE "(^|\n) \\.(\n|$)" "\\1\\2" licence "${licence}")
string(REGEX REPLACE "(^|\n) " "\\1" licence "${licence}")
set(licence "${licence_name} License\n\nCopyright ${holder}\n\n${licence}")
foreach(text readme licence)
  string(REPLACE "\r\n" "\n" ${text} "${${text}}")
  string(REPLACE "\n" "\r\n" ${text} "${${text}}")
endforeach()
file(WRITE ${text_dir}/README.txt "${readme}")
file(WRITE ${text_dir}/LICENSE.txt "${licence}")
install(FILES ${text_dir}/README.txt ${text_dir}/LICENSE.txt DESTINATION .)
# The installer's licence page wraps the text to its own width: there each paragraph is one line,
# or the page would break every line of data/copyright's short ones again, mid-sentence.
string(STRIP "${licence}" licence_page)
string(REPLACE "\r\n\r\n" "\n" licence_page "${licence_page}")
string(REPLACE "\r\n" " " licence_page "${licence_page}")
string(REPLACE "\n" "\r\n\r\n" licence_page "${licence_page}")
file(WRITE ${text_dir}/licence-page.txt "${licence_page}\r\n")

# Packages: hushwell-VERSION-win64.zip and hushwell-VERSION-win64-setup.exe (the per-generator
# name is set in HushwellCPackOptions.cmake, read by cpack for each generator).
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_NAME Hushwell)
set(CPACK_PACKAGE_VENDOR "The Hushwell developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns radio commercial breaks down on a schedule")
set(CPACK_PACKAGE_FILE_NAME hushwell-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Hushwell)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Hushwell)
set(CPACK_RESOURCE_FILE_LICENSE ${text_dir}/licence-page.txt)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/HushwellCPackOptions.cmake)
# Our own installer script (data/windows/NSIS.template.in): per user, without administrator rights.
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/data/windows ${CMAKE_MODULE_PATH})
set(CPACK_NSIS_PACKAGE_NAME Hushwell)
set(CPACK_NSIS_DISPLAY_NAME Hushwell)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/data/hushwell.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/data/hushwell.ico)
# Hushwell's own picture on the welcome and finish pages (scripts/installer-picture.sh draws it).
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP ${PROJECT_SOURCE_DIR}/data/windows/installer-welcome.bmp)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
set(CPACK_NSIS_URL_INFO_ABOUT "https://github.com/hushwell/hushwell")
include(CPack)
