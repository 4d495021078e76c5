# The host build: the assistant's logic against the in-memory platform, with
# the unit tests, the same tests under the sanitizers, the fuzzers and the
# static analysis.
find_package(GTest REQUIRED)

# AddressSanitizer and UndefinedBehaviorSanitizer; any report ends the run.
set(HOST_SANITIZE_OPTIONS -fsanitize=address,undefined -fno-sanitize-recover=all
  -fno-omit-frame-pointer)

# The logic library built with extra compile options (instrumentation);
# targets linking it get the link options too. Callable from any folder.
function(add_assistant_logic name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "COMPILE_OPTIONS;LINK_OPTIONS")
  set(sources ${ASSISTANT_SOURCES} platform/memory_platform.cpp)
  list(TRANSFORM sources PREPEND ${CMAKE_SOURCE_DIR}/)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${PROJECT_WARNINGS} ${ARG_COMPILE_OPTIONS})
  target_link_options(${name} INTERFACE ${ARG_LINK_OPTIONS})
endfunction()

add_assistant_logic(assistant_logic)
add_assistant_logic(assistant_logic_sanitized
  COMPILE_OPTIONS ${HOST_SANITIZE_OPTIONS}
  LINK_OPTIONS ${HOST_SANITIZE_OPTIONS})

add_subdirectory(tests)
add_subdirectory(tests/fuzz)
add_subdirectory(tests/analysis)

# The Wine end-to-end tests run the executable from a Windows build.
set(ASSISTANT_WINDOWS_BUILD "" CACHE PATH "Folder of the Windows build whose executable the Wine tests run")
if(ASSISTANT_WINDOWS_BUILD)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/image)
  add_subdirectory(tests/scripts)
endif()
