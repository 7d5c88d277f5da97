# Shared build rules: warnings, sanitizers, and one library plus one test program per folder.

set(WV_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wno-unused-parameter
  $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local> $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)
if(WV_UNITY)
  # GCC takes a type from another file's anonymous namespace, pasted into the same batch,
  # for one shared across files; in a unity build that warning means nothing.
  list(APPEND WV_WARNINGS $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
endif()
if(WV_WERROR)
  list(APPEND WV_WARNINGS -Werror)
endif()

if(WV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WV_TSAN)
  if(WV_SANITIZE OR WV_FUZZ)
    message(FATAL_ERROR "WV_TSAN cannot be combined with WV_SANITIZE or WV_FUZZ (one sanitizer runtime per build)")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# wv_library(<target> [LIBS <libs...>] [SOURCES <extra...>] [EXCLUDE <names...>] [FILES <names...>])
# A static library of every .cpp in the folder except tests (*_test.cpp), fuzz targets
# (*_fuzz.cpp), programs (main.cpp) and the EXCLUDE names; with FILES, of just those
# files of the folder (a folder that holds more than one library).
function(wv_library target)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES;EXCLUDE;FILES" ${ARGN})
  if(ARG_FILES)
    set(srcs)
    foreach(f IN LISTS ARG_FILES)
      list(APPEND srcs "${CMAKE_CURRENT_SOURCE_DIR}/${f}")
    endforeach()
  else()
    file(GLOB srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  endif()
  list(FILTER srcs EXCLUDE REGEX "(_test|_fuzz|/main)\\.cpp$")
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  add_library(${target} STATIC ${srcs} ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${WV_WARNINGS})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
endfunction()

# wv_tests(<target> [LIBS <libs...>] [EXCLUDE <names...>] [FILES <names...>])
# One GoogleTest program from every *_test.cpp in the folder except the EXCLUDE names;
# with FILES, from just those (tests that need a process set up apart from the rest).
function(wv_tests target)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE;FILES" ${ARGN})
  if(ARG_FILES)
    set(srcs)
    foreach(f IN LISTS ARG_FILES)
      list(APPEND srcs "${CMAKE_CURRENT_SOURCE_DIR}/${f}")
    endforeach()
  else()
    file(GLOB srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  endif()
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(NOT srcs)
    return()
  endif()
  add_executable(${target} ${srcs})
  target_compile_options(${target} PRIVATE ${WV_WARNINGS})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "WV_BUILD_DIR=${CMAKE_BINARY_DIR};WV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  set_property(GLOBAL APPEND PROPERTY WV_TEST_PROGRAMS ${target})
endfunction()

# Writes <build>/test-programs.txt, one test program a line, so scripts/test can also run
# each program whole (shuffled), not only one test per process as ctest does.
function(wv_write_test_program_list)
  get_property(programs GLOBAL PROPERTY WV_TEST_PROGRAMS)
  set(lines "")
  foreach(t IN LISTS programs)
    string(APPEND lines "$<TARGET_FILE:${t}>\n")
  endforeach()
  file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/test-programs.txt" CONTENT "${lines}")
endfunction()

if(WV_FUZZ)
  # Everything is built with coverage for libFuzzer; only wv_fuzz targets get its main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# wv_fuzz(<target> <source.cpp> [LIBS <libs...>])
# A libFuzzer target, built only with -DWV_FUZZ=ON (clang). scripts/fuzz runs each one
# for a bounded time.
function(wv_fuzz target source)
  if(NOT WV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${target} ${source})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  add_dependencies(fuzzers ${target})
  set_property(GLOBAL APPEND PROPERTY WV_FUZZ_TARGETS ${target})
endfunction()

# The ad component as both deliverables carry it, one library per ads/ folder, bottom up:
# each folder uses only those before it (docs/architecture.md draws the order, and
# scripts/check-layers reads it from this list and fails an include of a folder further
# on). It is linked whole: nothing of the deliverables' own code calls it, and its start-up
# (ads/startup/: the makers it installs across folders and the class-load hook that
# observes the host's launch) and the classes it finds by name must be in all the same.
# The settings application leaves out the native-ad classes (WV_AD_COMPONENT_NATIVE).
set(WV_AD_COMPONENT ads_services ads_model ads_render ads_present ads_slots ads_mediation ads_startup)
set(WV_AD_COMPONENT_NATIVE ads_slots_native)

# wv_whole_archives(<out-var> <libs...>): the archive files of those of the libraries that
# exist, for "--whole-archive".
function(wv_whole_archives out)
  set(files)
  foreach(lib IN LISTS ARGN)
    if(TARGET ${lib})
      list(APPEND files $<TARGET_FILE:${lib}>)
    endif()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# wv_plugin(<target> <libs...>): the plug-in, lib<target>.so, from its constructor and the
# libraries given, all linked whole. It carries nothing of the platform layer: every
# platform symbol is resolved at dlopen from the host executable, which exports them, so
# the plug-in and the host share one run loop, one class registry, one window list, one
# notification centre. The archives' symbols stay private to it. bench/startup builds a
# plug-in without the ad component by the same rule.
function(wv_plugin target)
  wv_whole_archives(archives ${ARGN})
  add_library(${target} SHARED ${CMAKE_SOURCE_DIR}/hooklib/constructor.cpp)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${WV_WARNINGS})
  foreach(lib IN LISTS ARGN)
    if(TARGET ${lib})
      add_dependencies(${target} ${lib})
    endif()
  endforeach()
  target_link_options(${target} PRIVATE
    "LINKER:--whole-archive" ${archives} "LINKER:--no-whole-archive"
    "LINKER:--exclude-libs,ALL")
  # The archives come in through link options, so name them as link inputs too: the
  # plug-in is relinked whenever its code changes.
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${target} LINK_DEPENDS "${archives}")
endfunction()

# wv_settings_app(<target> [<ad libs...>]): the settings application, its main program on
# the application's library, with the ad libraries given linked whole beside it (their
# own dependencies come through them). bench/startup builds one without them by the same
# rule.
function(wv_settings_app target)
  add_executable(${target} ${CMAKE_SOURCE_DIR}/settings-app/main.cpp)
  target_compile_options(${target} PRIVATE ${WV_WARNINGS})
  if(ARGN)
    wv_whole_archives(archives ${ARGN})
    target_link_options(${target} PRIVATE "LINKER:--whole-archive" ${archives} "LINKER:--no-whole-archive")
  endif()
  target_link_libraries(${target} PRIVATE wardvane_app ${ARGN})
endfunction()
