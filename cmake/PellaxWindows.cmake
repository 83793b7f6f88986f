# The Windows x86-64 build (mingw-w64 cross-compiler, see mingw-w64-x86_64.cmake): third-party
# headers without the host's /usr/include, GoogleTest built from Debian's sources, the system
# libraries the DLL imports, and everything linked statically so the DLL needs no mingw runtime.

# Only the header-only libraries the build needs; the host's other headers would shadow mingw's.
set(PELLAX_WINDOWS_HEADERS ${CMAKE_BINARY_DIR}/third-party/include)
file(MAKE_DIRECTORY ${PELLAX_WINDOWS_HEADERS})
foreach(entry asio asio.hpp rapidjson CLI)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/bootstrap.sh windows")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${PELLAX_WINDOWS_HEADERS}/${entry} SYMBOLIC)
endforeach()
include_directories(SYSTEM ${PELLAX_WINDOWS_HEADERS})

# Windows 8 is the oldest with WaitOnAddress.
add_compile_definitions(_WIN32_WINNT=0x0602 WIN32_LEAN_AND_MEAN NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++)
# kernel32 before synchronization: the wait-on-address calls come from the API set, but the ordinary
# ones must keep binding to KERNEL32.
set(PELLAX_WINDOWS_SYSTEM_LIBRARIES ws2_32 mswsock bcrypt kernel32 synchronization)

add_library(RapidJSON INTERFACE)
add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)

if(PELLAX_BUILD_TESTS)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main gmock gmock_main)
    add_library(GTest::${target} ALIAS ${target})
  endforeach()
endif()

# The DLL: exactly the exported functions of pellax.def, a version resource, and an MSVC import
# library written by llvm-dlltool beside mingw's libpellax.dll.a.
function(pellax_windows_dll target)
  set(def ${CMAKE_SOURCE_DIR}/src/frame/pellax.def)
  configure_file(${CMAKE_SOURCE_DIR}/src/platform/windows/pellax.rc.in ${CMAKE_BINARY_DIR}/pellax.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src/platform/windows/DllMain.cpp ${CMAKE_BINARY_DIR}/pellax.rc)
  target_compile_definitions(${target} PRIVATE PELLAX_BUILDING_DLL)
  target_link_options(${target} PRIVATE ${def} -Wl,--exclude-all-symbols)
  set_target_properties(${target} PROPERTIES PREFIX "" LINK_DEPENDS ${def})
  find_program(PELLAX_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PELLAX_DLLTOOL} -m i386:x86-64 -D pellax.dll -d ${def} -l $<TARGET_FILE_DIR:${target}>/pellax.lib
    COMMENT "Writing the MSVC import library pellax.lib")
endfunction()

# What a Windows user gets: bin/ (DLL, tool, example programs), lib/ (import libraries, .def), include/.
function(pellax_windows_install)
  install(TARGETS pellax RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
  install(FILES $<TARGET_FILE_DIR:pellax>/pellax.lib ${CMAKE_SOURCE_DIR}/src/frame/pellax.def DESTINATION lib)
  install(FILES ${CMAKE_SOURCE_DIR}/include/pellax.h DESTINATION include)
  install(FILES ${CMAKE_SOURCE_DIR}/examples/server.c ${CMAKE_SOURCE_DIR}/examples/client.c DESTINATION examples)
  foreach(example server client)
    add_executable(pellax_example_${example} ${CMAKE_SOURCE_DIR}/examples/${example}.c)
    target_link_libraries(pellax_example_${example} PRIVATE pellax)
    target_compile_options(pellax_example_${example} PRIVATE -Wall -Wextra -Werror)
    install(TARGETS pellax_example_${example} RUNTIME DESTINATION bin)
  endforeach()
  set(CPACK_GENERATOR ZIP PARENT_SCOPE)
endfunction()
