# Delay-loaded system libraries for a mingw-w64 executable.
#
# oq_delay_import_libraries(<out-var> <dll>...) builds, for each system DLL
# named (without ".dll"), an import library whose functions load the DLL on
# their first call, and sets <out-var> to the list of those libraries plus
# the delay-load helper. Link them ahead of the ordinary import libraries.
#
# The export list is read from the toolchain's own import library, so the
# names (stdcall-decorated on 32-bit x86) are exactly what the compiler
# references.
function(oq_delay_import_libraries out_var)
  set(libs "")
  set(dir ${CMAKE_BINARY_DIR}/delay-imports)
  file(MAKE_DIRECTORY ${dir})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "__imp__")
    set(kill_at --kill-at)
  else()
    set(prefix "__imp_")
    set(kill_at "")
  endif()
  foreach(dll IN LISTS ARGN)
    find_library(OQ_IMPLIB_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
    execute_process(COMMAND ${CMAKE_NM} ${OQ_IMPLIB_${dll}} OUTPUT_VARIABLE symbols
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I ${prefix}[^\n]+" imports "${symbols}")
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
    foreach(line IN LISTS imports)
      string(REPLACE " I ${prefix}" "" name "${line}")
      string(APPEND def "${name}\n")
    endforeach()
    file(WRITE ${dir}/${dll}.def.new "${def}")
    file(COPY_FILE ${dir}/${dll}.def.new ${dir}/${dll}.def ONLY_IF_DIFFERENT)
    add_custom_command(OUTPUT ${dir}/lib${dll}_delay.a
                       COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${dll}.def --dllname ${dll}.dll ${kill_at}
                               --output-delaylib ${dir}/lib${dll}_delay.a
                       DEPENDS ${dir}/${dll}.def VERBATIM)
    list(APPEND libs ${dir}/lib${dll}_delay.a)
  endforeach()
  add_custom_target(oq_delay_imports DEPENDS ${libs})
  set(${out_var} ${libs} delayimp PARENT_SCOPE)
endfunction()
