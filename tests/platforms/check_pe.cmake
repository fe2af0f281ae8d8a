# SPDX-License-Identifier: MIT
# Reads a PE file with objdump and checks one property of it:
#   CHECK=exports  FILE is carvelle.dll: it exports exactly the nineteen
#                  GDS_ functions, by their plain names, and nothing else.
#   CHECK=runtime  FILE is carvelle.dll: it imports only from Windows system
#                  DLLs, so that a host needs no MinGW runtime DLL beside it.
#   CHECK=imports  FILE is a host program: it takes its GDS_ functions from
#                  carvelle.dll; OBJECT (its compiled C source) calls them
#                  through __imp_ pointers, as __declspec(dllimport) makes it.
# Usage: cmake -DOBJDUMP=... -DFILE=... -DCHECK=... [-DOBJECT=...] -P check_pe.cmake

set(expected_exports
  GDS_Arc GDS_Aref GDS_BeginLib GDS_BeginLibAt GDS_BeginStructure GDS_Boundary GDS_Box GDS_BoxWH
  GDS_Circle GDS_EndLib GDS_EndStructure GDS_GetError GDS_Node GDS_Path GDS_Property
  GDS_Sector GDS_Square GDS_Sref GDS_Text)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed: ${status}")
endif()
string(REPLACE ";" "," dump "${dump}")

# Fails with message unless names, in any order, are the nineteen exports.
function(require_the_nineteen names message)
  list(SORT names)
  set(sorted_expected ${expected_exports})
  list(SORT sorted_expected)
  if(NOT names STREQUAL sorted_expected)
    message(FATAL_ERROR "${message}\n  ${names}\nexpected\n  ${sorted_expected}")
  endif()
endfunction()
string(REPLACE "\n" ";" lines "${dump}")

if(CHECK STREQUAL "exports")
  # The names follow "[Ordinal/Name Pointer] Table" up to the next blank line;
  # the address table counts every export, named or by ordinal only.
  set(in_names FALSE)
  set(names)
  set(address_count "")
  foreach(line IN LISTS lines)
    # The first "Export Address Table" line, under "Number in:", is the count;
    # the second, under "Table Addresses", is an address.
    if(address_count STREQUAL "" AND line MATCHES "^[ \t]*Export Address Table[ \t]+([0-9a-fA-F]+)$")
      math(EXPR address_count "0x${CMAKE_MATCH_1}")
    endif()
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(in_names TRUE)
    elseif(in_names)
      if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
        list(APPEND names "${CMAKE_MATCH_1}")
      else()
        set(in_names FALSE)
      endif()
    endif()
  endforeach()
  require_the_nineteen("${names}" "carvelle.dll exports")
  list(LENGTH expected_exports count)
  if(NOT address_count EQUAL count)
    message(FATAL_ERROR "the export address table has ${address_count} entries, expected ${count}")
  endif()
  message(STATUS "exports: exactly the ${count} GDS_ functions")

elseif(CHECK STREQUAL "runtime")
  # Windows itself provides these; libgcc_s, libstdc++ and libwinpthread
  # are what a non-static MinGW link would add.
  set(system_pattern "^(kernel32|msvcrt|ucrtbase|ntdll|advapi32|user32|api-ms-win-.*)\\.dll$")
  set(imported)
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" dll)
      string(TOLOWER "${dll}" lower)
      list(APPEND imported ${dll})
      if(NOT lower MATCHES "${system_pattern}")
        message(FATAL_ERROR "carvelle.dll needs ${dll}, which is not a Windows system DLL")
      endif()
    endif()
  endforeach()
  if(NOT imported)
    message(FATAL_ERROR "no import table found in ${FILE}")
  endif()
  message(STATUS "runtime: imports only ${imported}")

elseif(CHECK STREQUAL "imports")
  set(in_carvelle FALSE)
  set(names)
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" dll)
      string(TOLOWER "${dll}" dll)
      if(dll STREQUAL "carvelle.dll")
        set(in_carvelle TRUE)
      else()
        set(in_carvelle FALSE)
      endif()
    elseif(in_carvelle AND line MATCHES "^[ \t]*[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+(GDS_[A-Za-z]+)")
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
  endforeach()
  require_the_nineteen("${names}" "the host imports from carvelle.dll")
  if(OBJECT)
    execute_process(COMMAND ${OBJDUMP} -t ${OBJECT} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${OBJDUMP} -t ${OBJECT} failed: ${status}")
    endif()
    foreach(name IN LISTS expected_exports)
      if(NOT symbols MATCHES "__imp_${name}[\r\n]")
        message(FATAL_ERROR "${OBJECT} does not call ${name} through __imp_${name}: gds_api.h did not declare it dllimport")
      endif()
    endforeach()
  endif()
  message(STATUS "imports: the host takes all nineteen functions from carvelle.dll")

else()
  message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
