# Include roots per layer, and the configure-time proof that they hold.

# Sets `out` to a directory under the build tree that holds a link named
# after each of `folder` and the folders in ARGN, pointing into src/; a
# subfolder ("pybinding/framework") is linked alone, below a directory of
# its parent's name. Links left from an earlier configure with a wider
# graph are dropped.
function(sandrig_include_root out folder)
  string(REPLACE "/" "_" root_name ${folder})
  set(root ${PROJECT_BINARY_DIR}/layers/${root_name})
  set(wanted ${folder} ${ARGN})
  file(REMOVE_RECURSE ${root})  # links only: never follows them into src/
  foreach(seen ${wanted})
    get_filename_component(parent ${root}/${seen} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${seen} ${root}/${seen} SYMBOLIC)
  endforeach()
  set_property(GLOBAL PROPERTY SANDRIG_SEES_${folder} ${wanted})
  set_property(GLOBAL APPEND PROPERTY SANDRIG_LAYERS ${folder})
  set(${out} ${root} PARENT_SCOPE)
endfunction()

# One header of each layer, looked for from every include root.
set(SANDRIG_LAYER_PROBES
    common/internal_failure.h fs/error.h terminal/terminal.h pool/user.h
    pybinding/framework/errors.h pybinding/py_fs.h)

# Compiles `source_text` against the include root of `folder`; sets `out`.
function(sandrig_try_layer out folder source_text)
  string(REPLACE "/" "_" root_name ${folder})
  set(dir ${PROJECT_BINARY_DIR}/layer_check/${root_name}-${out})
  file(WRITE ${dir}/probe.cc "${source_text}")
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  try_compile(compiled ${dir}/build SOURCES ${dir}/probe.cc
              CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_BINARY_DIR}/layers/${root_name}"
              CXX_STANDARD 23 OUTPUT_VARIABLE log)
  set(${out} ${compiled} PARENT_SCOPE)
  set(${out}_log "${log}" PARENT_SCOPE)
endfunction()

# Fails the configure unless every layer's include root reaches exactly the
# layers it was given, an upward include really is a compile error, and no
# file outside fs includes fs's internals (fs/internal) but through fs's
# own headers.
function(sandrig_check_layers)
  get_property(layers GLOBAL PROPERTY SANDRIG_LAYERS)
  foreach(folder ${layers})
    get_property(sees GLOBAL PROPERTY SANDRIG_SEES_${folder})
    set(text "")
    foreach(probe ${SANDRIG_LAYER_PROBES})
      set(reachable FALSE)
      foreach(seen ${sees})
        string(FIND ${probe} "${seen}/" at)
        if(at EQUAL 0)
          set(reachable TRUE)
        endif()
      endforeach()
      if(reachable)
        string(APPEND text "#if !__has_include(\"${probe}\")\n#error ${folder} cannot reach ${probe}\n#endif\n")
      else()
        string(APPEND text "#if __has_include(\"${probe}\")\n#error ${folder} reaches ${probe}\n#endif\n")
      endif()
    endforeach()
    sandrig_try_layer(reach ${folder} "${text}")
    if(NOT reach)
      message(FATAL_ERROR "layer ${folder} sees the wrong layers:\n${reach_log}")
    endif()
  endforeach()
  sandrig_try_layer(upward fs "#include \"terminal/terminal.h\"\n")
  if(upward)
    message(FATAL_ERROR "an include of terminal from fs compiled")
  endif()
  sandrig_try_layer(own fs "#include \"fs/error.h\"\n")
  if(NOT own)
    message(FATAL_ERROR "fs cannot include its own header:\n${own_log}")
  endif()
  file(GLOB_RECURSE outside ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cc)
  foreach(file ${outside})
    if(NOT file MATCHES "/src/fs/")
      file(STRINGS ${file} private REGEX "#include \"fs/internal/")
      if(private)
        message(FATAL_ERROR "${file} includes fs internals: ${private}")
      endif()
    endif()
  endforeach()
  message(STATUS "Layer include roots checked")
endfunction()
