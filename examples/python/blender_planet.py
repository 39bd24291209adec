"""Renders a planet inside Blender and puts it into the scene as a textured sphere.

Run it with Blender's Python, which must see the globeforge module (Debian's Blender uses
the system Python; install the wheel there, or point PYTHONPATH at a virtual environment's
site-packages that holds it):

    blender --python examples/python/blender_planet.py -- examples/cloudy.ORB [SEED]

The ground colour map becomes the base colour, the heights drive a bump node, the specular
map (white where the sea is) lowers the roughness; no file is written on the way, the
arrays go straight into Blender images.
"""

import sys

import bpy
import numpy as np

import globeforge as gf


def blender_image(name, pixels):
    """A Blender image from an H x W x 3 uint8 or H x W float array in 0..1 (grey)."""
    height, width = pixels.shape[:2]
    rgba = np.ones((height, width, 4), dtype=np.float32)
    if pixels.ndim == 2:
        rgba[..., :3] = pixels[..., None]
    else:
        rgba[..., :3] = pixels / 255.0
    image = bpy.data.images.new(name, width, height, float_buffer=pixels.ndim == 2)
    # Blender's rows go bottom up.
    image.pixels.foreach_set(rgba[::-1].ravel())
    image.pack()
    return image


def planet_material(planet):
    material = bpy.data.materials.new("GlobeForge planet")
    material.use_nodes = True
    nodes, links = material.node_tree.nodes, material.node_tree.links
    shader = nodes["Principled BSDF"]

    color = nodes.new("ShaderNodeTexImage")
    color.image = blender_image("planet_color", planet.color)
    links.new(color.outputs["Color"], shader.inputs["Base Color"])

    heights = nodes.new("ShaderNodeTexImage")
    heights.image = blender_image("planet_height", np.clip(planet.height / 256.0, 0, 1))
    heights.image.colorspace_settings.name = "Non-Color"
    bump = nodes.new("ShaderNodeBump")
    bump.inputs["Strength"].default_value = 0.3
    links.new(heights.outputs["Color"], bump.inputs["Height"])
    links.new(bump.outputs["Normal"], shader.inputs["Normal"])

    specular = nodes.new("ShaderNodeTexImage")
    specular.image = blender_image("planet_specular", planet.specular / 255.0)
    specular.image.colorspace_settings.name = "Non-Color"
    rough = nodes.new("ShaderNodeMath")
    rough.operation = "SUBTRACT"
    rough.inputs[0].default_value = 0.9
    links.new(specular.outputs["Color"], rough.inputs[1])
    links.new(rough.outputs["Value"], shader.inputs["Roughness"])
    return material


def main():
    args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    if not args:
        sys.exit("usage: blender --python blender_planet.py -- SETTINGS.ORB [SEED]")
    settings = gf.Settings.load(args[0])
    seed = int(args[1]) if len(args) > 1 else None
    planet = gf.render(settings, size=(2048, 1024), seed=seed,
                       progress=lambda message, fraction: print(f"{fraction:4.0%} {message}"))
    # A UV sphere's UVs are equirectangular, like the maps.
    bpy.ops.mesh.primitive_uv_sphere_add(segments=128, ring_count=64, radius=1.0)
    sphere = bpy.context.active_object
    sphere.name = "Planet"
    bpy.ops.object.shade_smooth()
    sphere.data.materials.append(planet_material(planet))


main()
