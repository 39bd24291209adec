# Imports an exported planet into Blender (background mode) with its own glTF importer,
# checks what a Blender user would get, renders the planet's face at longitude 0 with Cycles
# on the processor, and prints the mean colour (0..255) of the four quarters of the disc's
# middle half, top left, top right, bottom left, bottom right, as lines "CELL r g b". Exits non-zero, saying why, when a check fails.
#   blender -b --factory-startup --python blender_import.py -- FILE.glb CLOUDS(0|1) SIZE OUT.png
import sys

import numpy

# Debian's Blender 3.4 importer still calls numpy.bool, which numpy 1.24 removed.
numpy.bool = bool

import bpy  # noqa: E402

path, clouds, size, out = sys.argv[sys.argv.index("--") + 1:]
clouds = clouds == "1"
size = int(size)


def fail(why):
    print("BLENDER CHECK FAILED: " + why)
    sys.exit(1)


bpy.ops.wm.read_factory_settings(use_empty=True)
result = bpy.ops.import_scene.gltf(filepath=path)
if result != {"FINISHED"}:
    fail("the importer said %s" % result)

objects = {o.name: o for o in bpy.data.objects if o.type == "MESH"}
if "Planet" not in objects:
    fail("no Planet object among %s" % list(objects))
if ("Clouds" in objects) != clouds:
    fail("cloud sphere %s, expected %s" % ("Clouds" in objects, clouds))

planet = objects["Planet"]
mesh = planet.data
if not mesh.uv_layers:
    fail("the planet has no UV map")
# +Y north in glTF is +Z in Blender; the sphere has radius 1.
zs = [v.co.z for v in mesh.vertices]
if abs(max(zs) - 1) > 1e-4 or abs(min(zs) + 1) > 1e-4:
    fail("the poles are at %f and %f" % (max(zs), min(zs)))


def principled(material):
    for node in material.node_tree.nodes:
        if node.type == "BSDF_PRINCIPLED":
            return node
    fail("material %s has no Principled BSDF" % material.name)


def linked_image(socket, through=()):
    """The image feeding socket, directly or through nodes of the given types."""
    if not socket.is_linked:
        return None
    node = socket.links[0].from_node
    while node.type in through:
        inputs = [i for i in node.inputs if i.is_linked]
        if not inputs:
            return None
        node = inputs[-1].links[0].from_node
    return node.image if node.type == "TEX_IMAGE" else None


ground = planet.active_material
bsdf = principled(ground)
color = linked_image(bsdf.inputs["Base Color"])
if color is None or color.colorspace_settings.name != "sRGB":
    fail("the base colour is not an sRGB image")
if linked_image(bsdf.inputs["Normal"], ("NORMAL_MAP",)) is None:
    fail("no normal map feeds the normal")
normal_map = bsdf.inputs["Normal"].links[0].from_node
if normal_map.type != "NORMAL_MAP" or normal_map.space != "TANGENT":
    fail("the normal map is not in tangent space")
if linked_image(bsdf.inputs["Roughness"], ("SEPRGB", "SEPARATE_COLOR")) is None:
    fail("no texture feeds the roughness")
# Metallic 0: a plain value, or the texture's blue times the factor 0.
metallic = bsdf.inputs["Metallic"]
if metallic.is_linked:
    factor = metallic.links[0].from_node
    if factor.type != "MATH" or factor.operation != "MULTIPLY" or not any(
            not i.is_linked and i.default_value == 0 for i in factor.inputs[:2]):
        fail("the ground is metallic")
elif metallic.default_value != 0:
    fail("the ground is metallic")
if clouds:
    cloud = objects["Clouds"].active_material
    if cloud.blend_method != "BLEND":
        fail("the clouds are not blended (%s)" % cloud.blend_method)
    if not principled(cloud).inputs["Alpha"].is_linked:
        fail("the cloud alpha is not from the texture")

# The face at longitude 0 (glTF +Z, Blender -Y), seen from far, lit from the viewer.
scene = bpy.context.scene
camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
camera.data.type = "ORTHO"
camera.data.ortho_scale = 2.0 / 0.9
camera.location = (0, -10, 0)
camera.rotation_euler = (1.5707963267948966, 0, 0)
scene.collection.objects.link(camera)
scene.camera = camera
sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", "SUN"))
sun.data.energy = 3.14159  # a white surface facing the sun comes out white
sun.rotation_euler = (1.5707963267948966, 0, 0)
scene.collection.objects.link(sun)
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 16
scene.cycles.use_denoising = False
scene.render.resolution_x = scene.render.resolution_y = size
scene.render.film_transparent = True
scene.view_settings.view_transform = "Standard"
scene.render.filepath = out
bpy.ops.render.render(write_still=True)

# Blender's rows run bottom up: flip them so the cells read like the image, top left first.
pixels = numpy.array(bpy.data.images.load(out).pixels[:]).reshape(size, size, 4)[::-1]
for top, left in ((0, 0), (0, 1), (1, 0), (1, 1)):
    y0, x0 = size // 4 + top * size // 4, size // 4 + left * size // 4
    cell = pixels[y0: y0 + size // 4, x0: x0 + size // 4, :3] * 255
    print("CELL %.2f %.2f %.2f" % tuple(cell.reshape(-1, 3).mean(axis=0)))
