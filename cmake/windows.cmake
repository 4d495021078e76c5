# The shipped executable: 32-bit, Windows GUI subsystem 4.0, no C runtime,
# imports only from the system DLLs, no link time stamp.
set(ASSISTANT_OUTPUT_NAME ie8-setup-assistant)

set(ASSISTANT_COMPILE_OPTIONS
  -Os -flto
  -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -fno-stack-check -mno-stack-arg-probe
  -fno-ident -ffunction-sections -fdata-sections
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN
)
set(ASSISTANT_LINK_OPTIONS
  -nostdlib -nostartfiles -s
  # The platform functions only forward to the system's: across the whole
  # program they are inlined away.
  -Os -flto
  -Wl,-e,_AssistantEntry@0
  -Wl,--subsystem,windows:4.0
  -Wl,--no-insert-timestamp
  -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--nxcompat
  # No structured exception handler is installed anywhere in the image; and
  # Windows applies no Remote Desktop compatibility to it (no redirection of
  # INI files, registry or the Windows folder).
  -Wl,--no-seh -Wl,--tsaware
  # Four sections instead of six: see the script.
  "-Wl,-T,${CMAKE_SOURCE_DIR}/cmake/assistant.ld"
)

# The texts of the version block that name the maker and the product.
set(ASSISTANT_COMPANY_NAME "IE8 Setup Assistant project" CACHE STRING
  "CompanyName of the version block")
set(ASSISTANT_LEGAL_COPYRIGHT "Copyright © IE8 Setup Assistant project" CACHE STRING
  "LegalCopyright of the version block")
set(ASSISTANT_PRODUCT_NAME "IE8 Setup Assistant" CACHE STRING
  "ProductName of the version block")

# Quotes a text for a string literal in a resource script.
function(rc_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
rc_string(RC_COMPANY_NAME "${ASSISTANT_COMPANY_NAME}")
rc_string(RC_LEGAL_COPYRIGHT "${ASSISTANT_LEGAL_COPYRIGHT}")
rc_string(RC_PRODUCT_NAME "${ASSISTANT_PRODUCT_NAME}")
rc_string(RC_FILE_NAME "${ASSISTANT_OUTPUT_NAME}.exe")
rc_string(RC_MANIFEST ${CMAKE_SOURCE_DIR}/resources/assistant.manifest)
configure_file(resources/version.rc.in resources/version.rc @ONLY)

# The resource script is UTF-8; windres is told so.
enable_language(RC)
add_library(assistant_resources OBJECT ${CMAKE_BINARY_DIR}/resources/version.rc)
target_compile_options(assistant_resources PRIVATE --codepage=65001)
set_source_files_properties(${CMAKE_BINARY_DIR}/resources/version.rc PROPERTIES
  OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/resources/assistant.manifest)

# The image as linked; the shipped file is this one signed (below).
add_executable(assistant WIN32
  ${ASSISTANT_SOURCES}
  assistant/entry_point.cpp
  platform/windows_platform.cpp
  platform/compiler_support.cpp
  $<TARGET_OBJECTS:assistant_resources>
)
set_target_properties(assistant PROPERTIES OUTPUT_NAME ${ASSISTANT_OUTPUT_NAME}.unsigned
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/assistant.ld)
target_include_directories(assistant PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(assistant PRIVATE ${ASSISTANT_COMPILE_OPTIONS} ${PROJECT_WARNINGS})
set_source_files_properties(platform/compiler_support.cpp PROPERTIES
  COMPILE_OPTIONS "-fno-builtin;-fno-tree-loop-distribute-patterns;-fno-lto")
target_link_options(assistant PRIVATE ${ASSISTANT_LINK_OPTIONS})
# SHLWAPI and SHELL32 are loaded at run time from the system folder
# (platform/system_library.h); linking them would import them.
target_link_libraries(assistant PRIVATE kernel32 advapi32)

# The shipped file: the image with an Authenticode signature and an RFC 3161
# time-stamp countersignature. Without a certificate of the distributor's
# own, a development CA, code-signing certificate and time-stamp authority
# are made in the build folder (signing/dev-pki), so that every build is
# signed and its signature verifies offline.
set(ASSISTANT_SIGNING_CERTIFICATE "" CACHE FILEPATH
  "Code-signing certificate (PEM or DER, chain included); empty: development certificate")
set(ASSISTANT_SIGNING_KEY "" CACHE FILEPATH
  "Private key of the code-signing certificate")
set(ASSISTANT_SIGNING_KEY_PASSWORD_FILE "" CACHE FILEPATH
  "File holding the password of an encrypted signing key; empty: none")
set(ASSISTANT_TIMESTAMP_URL "" CACHE STRING
  "URL of an RFC 3161 time-stamp service; empty: local development time-stamp authority")
find_program(OSSLSIGNCODE osslsigncode REQUIRED)
find_program(OPENSSL openssl REQUIRED)

set(ASSISTANT_SIGNED_IMAGE ${CMAKE_BINARY_DIR}/${ASSISTANT_OUTPUT_NAME}.exe)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/signing)
# Rewritten only when a signing setting changes, so that the file is signed
# again then.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/signing/settings CONTENT
  "${ASSISTANT_SIGNING_CERTIFICATE}\n${ASSISTANT_SIGNING_KEY}\n${ASSISTANT_SIGNING_KEY_PASSWORD_FILE}\n${ASSISTANT_TIMESTAMP_URL}\n" @ONLY)
add_custom_command(OUTPUT ${ASSISTANT_SIGNED_IMAGE}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign-image.sh
    $<TARGET_FILE:assistant> ${ASSISTANT_SIGNED_IMAGE} ${CMAKE_BINARY_DIR}/signing
    "${ASSISTANT_SIGNING_CERTIFICATE}" "${ASSISTANT_SIGNING_KEY}"
    "${ASSISTANT_SIGNING_KEY_PASSWORD_FILE}" "${ASSISTANT_TIMESTAMP_URL}"
  DEPENDS assistant ${CMAKE_BINARY_DIR}/signing/settings
    ${CMAKE_SOURCE_DIR}/cmake/sign-image.sh ${CMAKE_SOURCE_DIR}/cmake/make-dev-pki.sh
  COMMENT "Signing ${ASSISTANT_OUTPUT_NAME}.exe"
  VERBATIM)
add_custom_target(assistant_signed ALL DEPENDS ${ASSISTANT_SIGNED_IMAGE})

# Windows-side tools of the host build's image tests.
add_subdirectory(tests/image/version_query)

# The benchmark's floors and tools (./scripts/bench), outside the default
# build.
add_subdirectory(bench EXCLUDE_FROM_ALL)
