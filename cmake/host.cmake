# The host build: the assistant's logic against the in-memory platform, with
# the unit tests.
find_package(GTest REQUIRED)

add_library(assistant_logic STATIC ${ASSISTANT_SOURCES} platform/memory_platform.cpp)
target_include_directories(assistant_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(assistant_logic PRIVATE ${PROJECT_WARNINGS})

add_subdirectory(tests)
