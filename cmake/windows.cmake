# The shipped executable: 32-bit, Windows GUI subsystem 4.0, no C runtime,
# imports only from the system DLLs, no link time stamp.
set(ASSISTANT_OUTPUT_NAME ie8-setup-assistant)

set(ASSISTANT_COMPILE_OPTIONS
  -Os
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -fno-stack-check -mno-stack-arg-probe
  -fno-ident -ffunction-sections -fdata-sections
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN
)
set(ASSISTANT_LINK_OPTIONS
  -nostdlib -nostartfiles -s
  -Wl,-e,_AssistantEntry@0
  -Wl,--subsystem,windows:4.0
  -Wl,--no-insert-timestamp
  -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--nxcompat
)

add_executable(assistant WIN32
  ${ASSISTANT_SOURCES}
  assistant/entry_point.cpp
  platform/windows_platform.cpp
  platform/compiler_support.cpp
)
set_target_properties(assistant PROPERTIES OUTPUT_NAME ${ASSISTANT_OUTPUT_NAME})
target_include_directories(assistant PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(assistant PRIVATE ${ASSISTANT_COMPILE_OPTIONS} ${PROJECT_WARNINGS})
set_source_files_properties(platform/compiler_support.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns")
target_link_options(assistant PRIVATE ${ASSISTANT_LINK_OPTIONS})
target_link_libraries(assistant PRIVATE kernel32 advapi32 shell32 shlwapi)
