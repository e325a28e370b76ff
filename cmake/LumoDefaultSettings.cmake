# lumo_add_default_settings(<target>)
#
# Places a default settings file "lumo.mdb" (port 1, interval 200 ms,
# 13 instruments, 9600 baud) beside the executable of <target>, written by
# mklumodb at build time. The file is made only when it is missing: a file
# the operator has since changed through the program is never overwritten,
# and deleting it brings the default back on the next build.
#
# The output is named by the target's runtime output directory, since CMake
# does not allow $<TARGET_FILE_DIR:...> in a custom command's OUTPUT; this
# assumes a single-configuration generator (Makefiles, Ninja).
include_guard(GLOBAL)

function(lumo_add_default_settings target)
  get_target_property(directory ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT directory)
    get_target_property(directory ${target} BINARY_DIR)
  endif()
  set(settings_file "${directory}/lumo.mdb")

  # COMMAND names the mklumodb target, so it is built first; there is no file
  # dependency on it, so rebuilding the tool does not rewrite the file. A
  # cross build uses the build machine's mklumodb (the file is the same).
  set(tool mklumodb)
  if(CMAKE_CROSSCOMPILING)
    if(NOT LUMO_HOST_MKLUMODB)
      message(FATAL_ERROR "a cross build needs -DLUMO_HOST_MKLUMODB=<mklumodb built for this machine>")
    endif()
    set(tool ${LUMO_HOST_MKLUMODB})
  endif()
  add_custom_command(
    OUTPUT "${settings_file}"
    COMMAND ${tool} --if-missing "${settings_file}"
    COMMENT "Default settings file beside ${target}"
    VERBATIM
  )
  add_custom_target(${target}_default_settings DEPENDS "${settings_file}")
  add_dependencies(${target} ${target}_default_settings)
endfunction()
