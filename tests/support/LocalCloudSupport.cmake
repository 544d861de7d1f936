# tarvolin_localcloud_support: starts tools/localcloud from tests (see LocalCloud.h). No Qt.
find_package(nlohmann_json 3.10 REQUIRED)
find_package(OpenSSL REQUIRED)
if(NOT TARGET PkgConfig::HTTPLIB)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()
add_library(tarvolin_localcloud_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/LocalCloud.h ${CMAKE_CURRENT_LIST_DIR}/LocalCloud.cpp)
target_include_directories(tarvolin_localcloud_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tarvolin_localcloud_support PRIVATE PkgConfig::HTTPLIB nlohmann_json::nlohmann_json OpenSSL::Crypto)
target_compile_definitions(tarvolin_localcloud_support PRIVATE LOCALCLOUD_BINARY="$<TARGET_FILE:localcloud>")
add_dependencies(tarvolin_localcloud_support localcloud)
set_target_properties(tarvolin_localcloud_support PROPERTIES AUTOMOC OFF)
