# hushwell_layer(TARGET FOLDER): TARGET builds the layer in src/FOLDER. Its include root holds that
# folder alone, so a file sees another layer's headers only when its target links that layer:
# an include that HACKING.md's layer rules forbid fails to compile.
function(hushwell_layer target folder)
  set(root ${PROJECT_BINARY_DIR}/layers/${folder}/src)
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC
       RESULT not_linked)
  if(not_linked)
    # Windows makes symbolic links only in developer mode; there every layer sees all of src/,
    # and the Linux build keeps the rules.
    message(STATUS "${target}: no link in ${root} (${not_linked}), the layer rules are not checked")
    set(root ${PROJECT_SOURCE_DIR}/src)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
