"""Renders 16 seeds of one settings file and lays their globes out as a 4 x 4 contact sheet.

    python3 examples/python/contact_sheet.py examples/cloudy.ORB sheet.png

Needs the globeforge module (pip install . from the checkout) and Pillow.
"""

import argparse

from PIL import Image, ImageDraw

import globeforge as gf


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("settings", help="a settings file (.ORB)")
    parser.add_argument("output", help="the contact sheet, for example sheet.png")
    parser.add_argument("--first-seed", type=int, default=1, help="seeds from this one on")
    parser.add_argument("--tile", type=int, default=256, help="side of each globe in pixels")
    parser.add_argument("--map-width", type=int, default=1024,
                        help="width of the maps (the height is half)")
    args = parser.parse_args()

    settings = gf.Settings.load(args.settings)
    tile = args.tile
    sheet = Image.new("RGBA", (4 * tile, 4 * tile), (8, 8, 16, 255))
    draw = ImageDraw.Draw(sheet)
    for i in range(16):
        seed = args.first_seed + i
        planet = gf.render(settings, size=(args.map_width, args.map_width // 2), seed=seed)
        globe = Image.fromarray(gf.globe(planet, size=tile, view=(20, 15)), "RGBA")
        x, y = (i % 4) * tile, (i // 4) * tile
        sheet.alpha_composite(globe, (x, y))
        draw.text((x + 6, y + 4), f"seed {seed}", fill=(230, 230, 230, 255))
        print(f"seed {seed} done", flush=True)
    sheet.convert("RGB").save(args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
