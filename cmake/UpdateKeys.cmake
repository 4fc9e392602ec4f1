# The update feed's address and signing key are fixed when the project is configured.
# A release build passes its own key: -DQUELMAR_PUBLIC_KEY=<64 hex digits>. The default trusts the
# development key pair in keys/, whose private half is public; QUELMAR_TRUSTS_DEVELOPMENT_KEY tells
# packaging steps to refuse such a build.

set(QUELMAR_DEVELOPMENT_KEY_FILE ${PROJECT_SOURCE_DIR}/keys/development.key)
set(QUELMAR_DEVELOPMENT_PUBLIC_KEY_FILE ${PROJECT_SOURCE_DIR}/keys/development.pub)
file(STRINGS ${QUELMAR_DEVELOPMENT_PUBLIC_KEY_FILE} QUELMAR_DEVELOPMENT_PUBLIC_KEY LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUELMAR_DEVELOPMENT_PUBLIC_KEY_FILE})

set(QUELMAR_PUBLIC_KEY "" CACHE STRING
    "Ed25519 public key (64 hex digits) that signs the update feed; empty trusts keys/development.pub")
set(QUELMAR_FEED_URL "https://code.quelmar.net/quelmar/quelmar-client/raw/main/updates/stable.json" CACHE STRING
    "HTTPS address of the signed update feed")

if(QUELMAR_PUBLIC_KEY STREQUAL "")
    set(QUELMAR_FEED_PUBLIC_KEY ${QUELMAR_DEVELOPMENT_PUBLIC_KEY})
else()
    set(QUELMAR_FEED_PUBLIC_KEY ${QUELMAR_PUBLIC_KEY})
endif()
string(TOLOWER "${QUELMAR_FEED_PUBLIC_KEY}" QUELMAR_FEED_PUBLIC_KEY)
if(NOT QUELMAR_FEED_PUBLIC_KEY MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "QUELMAR_PUBLIC_KEY must be 64 hexadecimal digits")
endif()
string(LENGTH "${QUELMAR_FEED_PUBLIC_KEY}" length)
if(NOT length EQUAL 64)
    message(FATAL_ERROR "QUELMAR_PUBLIC_KEY must be 64 hexadecimal digits")
endif()
string(TOLOWER "${QUELMAR_DEVELOPMENT_PUBLIC_KEY}" development)
if(QUELMAR_FEED_PUBLIC_KEY STREQUAL development)
    set(QUELMAR_TRUSTS_DEVELOPMENT_KEY ON)
    message(STATUS "Update feed key: the development key (tests and local demos only)")
else()
    set(QUELMAR_TRUSTS_DEVELOPMENT_KEY OFF)
    message(STATUS "Update feed key: ${QUELMAR_FEED_PUBLIC_KEY}")
endif()

if(NOT QUELMAR_FEED_URL MATCHES "^https://[^/?#\" \\\\]+/[^\" \\\\]*/raw/main/updates/stable\\.json$")
    message(FATAL_ERROR "QUELMAR_FEED_URL must be an https address ending in /raw/main/updates/stable.json")
endif()

# The platform a client package must name to be offered to this build.
if(CMAKE_SYSTEM_NAME STREQUAL "Darwin")
    set(QUELMAR_PLATFORM darwin)
else()
    string(TOLOWER "${CMAKE_SYSTEM_NAME}" QUELMAR_PLATFORM)
endif()

if(QUELMAR_TRUSTS_DEVELOPMENT_KEY)
    set(QUELMAR_TRUSTS_DEVELOPMENT_KEY_CXX true)
else()
    set(QUELMAR_TRUSTS_DEVELOPMENT_KEY_CXX false)
endif()
