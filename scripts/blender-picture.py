# Renders a planet exported with --gltf in Blender (background mode), as the README's picture
# was made: imported with Blender's own glTF importer, seen from the south-west of longitude 0
# with the sun from the upper left, Cycles on the processor, transparent background.
#   blender -b --factory-startup --python scripts/blender-picture.py -- PLANET.glb SIZE OUT.png
import math
import sys

import numpy

# Debian's Blender 3.4 importer still calls numpy.bool, which numpy 1.24 removed.
numpy.bool = bool

import bpy  # noqa: E402
import mathutils  # noqa: E402

path, size, out = sys.argv[sys.argv.index("--") + 1:]
bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.import_scene.gltf(filepath=path)

scene = bpy.context.scene
camera = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
camera.data.lens = 50
# glTF +Z (longitude 0) is Blender's -Y; look at the planet a little from the east and north.
distance = 3.4
azimuth, elevation = math.radians(20), math.radians(15)
camera.location = (distance * math.cos(elevation) * math.sin(azimuth),
                   -distance * math.cos(elevation) * math.cos(azimuth),
                   distance * math.sin(elevation))
direction = -camera.location
camera.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()
scene.collection.objects.link(camera)
scene.camera = camera

sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", "SUN"))
sun.data.energy = 4.0
# From the camera's left and a little above, so most of the visible disc is in daylight.
sun_from = mathutils.Matrix.Rotation(math.radians(-50), 3, "Z") @ camera.location
sun_from.z += 1.5
sun.rotation_euler = (-sun_from).to_track_quat("-Z", "Y").to_euler()
scene.collection.objects.link(sun)
world = bpy.data.worlds.new("World")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.01, 0.01, 0.012, 1)
scene.world = world

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 64
scene.cycles.use_denoising = False  # Debian's Blender is built without OpenImageDenoise
scene.render.resolution_x = scene.render.resolution_y = int(size)
scene.render.film_transparent = True
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
