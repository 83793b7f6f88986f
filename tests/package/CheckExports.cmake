# Fails unless LIBRARY defines exactly the 20 PELLAX_* functions (plus linker bookkeeping) and
# carries the SONAME hosts link against.
cmake_policy(SET CMP0057 NEW)
set(expected
  PELLAX_Init PELLAX_Uninit PELLAX_GenerateSequence PELLAX_FreeBuffer
  PELLAX_SERVER_SetNotifyCallBack PELLAX_SERVER_CreateSession PELLAX_SERVER_DestroySession
  PELLAX_SERVER_DestroyClientSession PELLAX_SERVER_Send PELLAX_SERVER_SynSend PELLAX_SERVER_SetUserData
  PELLAX_CLIENT_SetNotifyCallBack PELLAX_CLIENT_CreateSession PELLAX_CLIENT_DestroySession
  PELLAX_CLIENT_Send PELLAX_CLIENT_SynSend PELLAX_CLIENT_SetUserData PELLAX_CLIENT_GetDataKey
  PELLAX_CLIENT_Encrypt PELLAX_CLIENT_Decrypt)
set(linker_symbols _init _fini _edata _end __bss_start _DYNAMIC _GLOBAL_OFFSET_TABLE_)

if(LIBRARY MATCHES "\\.dll$")
  # The DLL's name table, one "[ n] NAME" line per export; and its imports: system DLLs only.
  execute_process(COMMAND x86_64-w64-mingw32-objdump -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REGEX REPLACE "\\[Ordinal/Name Pointer\\] Table\n" "" table "${table}")
  string(REGEX REPLACE "[ \t]*\\[ *[0-9]+\\] " "" listing "${table}")
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    if(NOT import MATCHES "DLL Name: (KERNEL32|WS2_32|MSWSOCK|bcrypt|msvcrt|api-ms-win-core-synch-l1-2-0)\\.dll$")
      message(FATAL_ERROR "pellax.dll needs a DLL that is not part of Windows: ${import}")
    endif()
  endforeach()
else()
  execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "listing the exports of ${LIBRARY} failed")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(found)
set(strays)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^.* " "" name "${line}")
  string(REGEX REPLACE "@.*$" "" name "${name}")
  if(name IN_LIST expected)
    list(APPEND found ${name})
  elseif(NOT name IN_LIST linker_symbols)
    list(APPEND strays ${name})
  endif()
endforeach()

if(strays)
  message(FATAL_ERROR "symbols exported besides the PELLAX_* functions: ${strays}")
endif()
foreach(name IN LISTS expected)
  if(NOT name IN_LIST found)
    message(FATAL_ERROR "missing export: ${name}")
  endif()
endforeach()

if(LIBRARY MATCHES "\\.dll$")
  message(STATUS "exports: the 20 PELLAX_* functions under plain names; imports: system DLLs only")
  return()
endif()
execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\)[^\n]*\\[libpellax\\.so\\.1\\]")
  message(FATAL_ERROR "SONAME is not libpellax.so.1:\n${dynamic}")
endif()
message(STATUS "exports: the 20 PELLAX_* functions, SONAME libpellax.so.1")
