# Writes the C interface's module-definition file (Pictor.def) and, from it, an import
# library in the format MSVC's linker reads (Pictor.lib), after Pictor.dll is linked.
# The .def lists the DLL's unmangled exports, which are the C interface's functions (the
# C++ classes' exports are mangled, _Z...). LLVM's dlltool gives 32-bit symbols the leading
# underscore of __cdecl names (_PictorCaptureCreate), as MSVC expects, in the short import
# form, which MSVC's linker takes with /SAFESEH; its members carry the DLL's name only.
#   cmake -DOBJDUMP=... -DDLLTOOL=... -DMACHINE=i386|i386:x86-64 -DDLL=.../Pictor.dll
#         -DOUT_DIR=... -P WriteCImportLibrary.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
# The export table's lines read "\t[   n] name", up to the next empty line. Brackets and
# semicolons would split a CMake list wrongly: they go before the lines become one.
string(REGEX REPLACE "[][;]" " " dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(names "")
set(in_table FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "Ordinal/Name Pointer  Table")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^[ \t]*[0-9]+ +([^ ]+)$")
    set(name ${CMAKE_MATCH_1})
    if(NOT name MATCHES "^_Z")
      string(APPEND names "  ${name}\n")
    endif()
  elseif(in_table)
    break()
  endif()
endforeach()
if(names STREQUAL "")
  message(FATAL_ERROR "${DLL} exports no C functions")
endif()
file(WRITE ${OUT_DIR}/Pictor.def "LIBRARY Pictor.dll\nEXPORTS\n${names}")
execute_process(COMMAND ${DLLTOOL} -m ${MACHINE} -d ${OUT_DIR}/Pictor.def -D Pictor.dll -l ${OUT_DIR}/Pictor.lib
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUT_DIR}/Pictor.lib")
endif()
