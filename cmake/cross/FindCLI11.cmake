# CLI11 for a cross build: headers only, so the build machine's copy (Debian's libcli11-dev)
# serves the target as well. Only a folder holding CLI/ goes on the include path, never
# /usr/include itself, whose C headers are the build machine's.

find_path(KORU_CLI11_ROOT CLI/CLI.hpp
    PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

if(KORU_CLI11_ROOT)
    file(STRINGS "${KORU_CLI11_ROOT}/CLI/Version.hpp" version_line
        REGEX "#define CLI11_VERSION \"[0-9.]+\"")
    string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" CLI11_VERSION "${version_line}")

    set(headers "${CMAKE_BINARY_DIR}/header-only")
    file(MAKE_DIRECTORY "${headers}")
    file(CREATE_LINK "${KORU_CLI11_ROOT}/CLI" "${headers}/CLI" SYMBOLIC)
    if(NOT TARGET CLI11::CLI11)
        add_library(CLI11::CLI11 INTERFACE IMPORTED)
        set_target_properties(CLI11::CLI11 PROPERTIES
            INTERFACE_INCLUDE_DIRECTORIES "${headers}")
    endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(CLI11
    REQUIRED_VARS KORU_CLI11_ROOT
    VERSION_VAR CLI11_VERSION)
