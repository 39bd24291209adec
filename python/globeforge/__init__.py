"""GlobeForge planets as numpy arrays.

    import globeforge as gf
    settings = gf.Settings.load("examples/cloudy.ORB")
    settings["CoastLevel"] = 40
    planet = gf.render(settings, size=(1024, 512), seed=7)
    planet.color          # H x W x 3 uint8, the pixels of the colour map file
    gf.globe(planet, size=512, view=(30, 10))   # H x W x 4 uint8
    planet.save("out")    # the maps the settings name, as globeforge-render writes them
"""

from ._globeforge import Planet, Settings, __version__, globe, render

__all__ = ["Planet", "Settings", "globe", "render", "__version__"]
