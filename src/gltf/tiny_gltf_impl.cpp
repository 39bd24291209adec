// tinygltf's implementation, compiled once. Images are never decoded or encoded by it: the
// exporter hands it PNG and JPEG bytes it encoded itself (see gltf.cmake for the switches).
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
