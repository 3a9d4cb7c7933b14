# nlohmann-json for a cross build: the library is headers only, so the build machine's copy
# (Debian's nlohmann-json3-dev) serves the target as well. Only a folder holding nlohmann/ goes
# on the include path, never /usr/include itself, whose C headers are the build machine's.

find_path(KORU_NLOHMANN_JSON_ROOT nlohmann/json.hpp
    PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

if(KORU_NLOHMANN_JSON_ROOT)
    file(STRINGS "${KORU_NLOHMANN_JSON_ROOT}/nlohmann/detail/abi_macros.hpp" version_lines
        REGEX "#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) [0-9]+")
    foreach(part MAJOR MINOR PATCH)
        string(REGEX REPLACE ".*NLOHMANN_JSON_VERSION_${part} ([0-9]+).*" "\\1" version_${part}
            "${version_lines}")
    endforeach()
    set(nlohmann_json_VERSION "${version_MAJOR}.${version_MINOR}.${version_PATCH}")

    set(headers "${CMAKE_BINARY_DIR}/header-only")
    file(MAKE_DIRECTORY "${headers}")
    file(CREATE_LINK "${KORU_NLOHMANN_JSON_ROOT}/nlohmann" "${headers}/nlohmann" SYMBOLIC)
    if(NOT TARGET nlohmann_json::nlohmann_json)
        add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
        set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
            INTERFACE_INCLUDE_DIRECTORIES "${headers}")
    endif()
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(nlohmann_json
    REQUIRED_VARS KORU_NLOHMANN_JSON_ROOT
    VERSION_VAR nlohmann_json_VERSION)
