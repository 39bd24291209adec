# The glTF exporter: a library of its own over tinygltf and nlohmann-json (Debian's
# libtinygltf-dev and nlohmann-json3-dev, both used as headers: tinygltf's implementation is
# compiled here, without its image codecs, since the exporter encodes its textures itself).
find_path(TINYGLTF_INCLUDE_DIR tiny_gltf.h REQUIRED)
find_path(NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp REQUIRED)

file(GLOB GLTF_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/gltf/*.cpp)
add_library(globeforge_gltf STATIC ${GLTF_SOURCES})
target_include_directories(globeforge_gltf PUBLIC ${CMAKE_SOURCE_DIR}/src)
# System includes: warnings in the libraries' headers are theirs, not ours.
target_include_directories(globeforge_gltf SYSTEM PUBLIC
  ${TINYGLTF_INCLUDE_DIR} ${NLOHMANN_JSON_INCLUDE_DIR})
target_compile_definitions(globeforge_gltf PUBLIC
  TINYGLTF_NO_STB_IMAGE TINYGLTF_NO_STB_IMAGE_WRITE TINYGLTF_NO_EXTERNAL_IMAGE
  TINYGLTF_USE_CPP14)
target_link_libraries(globeforge_gltf PUBLIC globeforge_core)

if(TARGET globeforge_tests)
  target_link_libraries(globeforge_tests PRIVATE globeforge_gltf)
  # Khronos' glTF validator on exported planets: node with the validator that
  # `scripts/bootstrap --engine-tests` installs into build/engine-tools.
  target_compile_definitions(globeforge_tests PRIVATE
    GLOBEFORGE_ENGINE_TOOLS="${CMAKE_SOURCE_DIR}/build/engine-tools")
endif()
