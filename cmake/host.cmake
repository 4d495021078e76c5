# The host build: the assistant's logic against the in-memory platform, with
# the unit tests.
find_package(GTest REQUIRED)

add_library(assistant_logic STATIC ${ASSISTANT_SOURCES} platform/memory_platform.cpp)
target_include_directories(assistant_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(assistant_logic PRIVATE ${PROJECT_WARNINGS})

add_subdirectory(tests)

# The Wine end-to-end tests run the executable from a Windows build.
set(ASSISTANT_WINDOWS_BUILD "" CACHE PATH "Folder of the Windows build whose executable the Wine tests run")
if(ASSISTANT_WINDOWS_BUILD)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/image)
endif()
