#!/usr/bin/python3
"""Makes the realistic sets of the benchmark corpus from what Debian packages ship.

  /usr/bin/python3 bench/make_corpus.py OUT_DIR [SET...]     (sets: scans masks halftones)

Each set is several distinct images, each a packed 1-bit raster: rows padded to whole bytes, most
significant bit first, 1 = black (as a PBM "P4" file has it). For a set NAME it writes
  OUT_DIR/NAME.raw              the rasters of its images one after the other (the timed file)
  OUT_DIR/NAME.tsv              one line per image: name, width, height, bytes, source, steps
  OUT_DIR/images/NAME/*.pbm     each image as a PBM file, to look at
The same packages at the same versions give the same bytes on every run: every random draw comes
from a generator seeded per image. bench/CORPUS.md says where each source comes from.

Needs ghostscript, groff, python3-numpy and python3-pil, and the source packages named below
(bench/make_corpus.sh installs them when missing).
"""
import gzip
import os
import subprocess
import sys
import tempfile
import zlib

import numpy as np
from PIL import Image, ImageFilter

Image.MAX_IMAGE_PIXELS = None  # the largest wallpapers are 5640 x 3172

DPI = 300

# Pages of documentation PDFs, rendered as they are: (label, package, file, page).
R_MANUALS = "/usr/share/R/doc/manual/"
GNUPLOT = "/usr/share/doc/gnuplot/gnuplot.pdf"
GS9 = "/usr/share/doc/ghostscript/GS9_Color_Management.pdf"
PDF_PAGES = [
    ("R-intro-p009", "r-doc-pdf", R_MANUALS + "R-intro.pdf", 9),
    ("R-intro-p040", "r-doc-pdf", R_MANUALS + "R-intro.pdf", 40),
    ("R-intro-p044", "r-doc-pdf", R_MANUALS + "R-intro.pdf", 44),
    ("R-intro-p084", "r-doc-pdf", R_MANUALS + "R-intro.pdf", 84),
    ("R-intro-p108", "r-doc-pdf", R_MANUALS + "R-intro.pdf", 108),
    ("R-exts-p020", "r-doc-pdf", R_MANUALS + "R-exts.pdf", 20),
    ("R-exts-p120", "r-doc-pdf", R_MANUALS + "R-exts.pdf", 120),
    ("R-exts-p200", "r-doc-pdf", R_MANUALS + "R-exts.pdf", 200),
    ("R-lang-p015", "r-doc-pdf", R_MANUALS + "R-lang.pdf", 15),
    ("R-lang-p040", "r-doc-pdf", R_MANUALS + "R-lang.pdf", 40),
    ("R-data-p012", "r-doc-pdf", R_MANUALS + "R-data.pdf", 12),
    ("R-admin-p030", "r-doc-pdf", R_MANUALS + "R-admin.pdf", 30),
    ("R-FAQ-p020", "r-doc-pdf", R_MANUALS + "R-FAQ.pdf", 20),
    ("fullrefman-p0300", "r-doc-pdf", R_MANUALS + "fullrefman.pdf", 300),
    ("fullrefman-p1200", "r-doc-pdf", R_MANUALS + "fullrefman.pdf", 1200),
    ("fullrefman-p2100", "r-doc-pdf", R_MANUALS + "fullrefman.pdf", 2100),
    ("gnuplot-p022", "gnuplot-doc", GNUPLOT, 22),
    ("gnuplot-p038", "gnuplot-doc", GNUPLOT, 38),
    ("gnuplot-p111", "gnuplot-doc", GNUPLOT, 111),
    ("gnuplot-p232", "gnuplot-doc", GNUPLOT, 232),
    ("gnuplot-p305", "gnuplot-doc", GNUPLOT, 305),
    ("GS9-color-p005", "ghostscript-doc", GS9, 5),
    ("GS9-color-p011", "ghostscript-doc", GS9, 11),
    ("GS9-color-p019", "ghostscript-doc", GS9, 19),
]

# Text typeset here by groff on A4 in other faces and layouts: (label, package, file, how, family,
# point size, pages). how: "man" sets a manual page; "columns" sets plain text in two columns (ms
# macros); "typed" keeps the text's own lines, as a printed plain-text file.
GROFF_DOCS = [
    ("bash.1-times10", "bash", "/usr/share/man/man1/bash.1.gz", "man", "T", 10, [4, 30, 60]),
    ("zstd.1-helvetica11", "zstd", "/usr/share/man/man1/zstd.1.gz", "man", "H", 11, [2, 5]),
    ("groff.1-palatino12", "groff-base", "/usr/share/man/man1/groff.1.gz", "man", "P", 12, [2, 4]),
    ("GPL-3-schoolbook9-2col", "base-files", "/usr/share/common-licenses/GPL-3", "columns", "N", 9,
     [1, 3]),
    ("Apache-2.0-courier10", "base-files", "/usr/share/common-licenses/Apache-2.0", "typed", "C",
     10, [2]),
    ("GFDL-1.3-bookman11", "base-files", "/usr/share/common-licenses/GFDL-1.3", "columns1", "B", 11,
     [2]),
]

PLASMA = "/usr/share/wallpapers/"
MATE = "/usr/share/backgrounds/mate/"


def plasma(name, size="2560x1600.jpg"):
    return "plasma-workspace-wallpapers", PLASMA + name + "/contents/images/" + size


def mate(name):
    return "mate-backgrounds", MATE + name


# Photographs among the desktop wallpapers, the largest size each is shipped in, with the second
# way each is segmented for the masks (the first is by luma): one that suits what it shows.
PHOTOS = [
    ("BytheWater", *plasma("BytheWater"), "saturation"),
    ("ColdRipple", *plasma("ColdRipple"), "local"),
    ("ColorfulCups", *plasma("ColorfulCups"), "hue"),
    ("DarkestHour", *plasma("DarkestHour"), "local"),
    ("EveningGlow", *plasma("EveningGlow"), "saturation"),
    ("FallenLeaf", *plasma("FallenLeaf"), "hue"),
    ("Grey", *plasma("Grey"), "local"),
    ("Kite", *plasma("Kite"), "saturation"),
    ("OneStandsOut", *plasma("OneStandsOut"), "green"),
    ("Path", *plasma("Path"), "green"),
    ("summer_1am", *plasma("summer_1am"), "hue"),
    ("Aqua", *mate("nature/Aqua.jpg"), "saturation"),
    ("Blinds", *mate("nature/Blinds.jpg"), "green"),
    ("Dune", *mate("nature/Dune.jpg"), "hue"),
    ("FreshFlower", *mate("nature/FreshFlower.jpg"), "local"),
    ("Garden", *mate("nature/Garden.jpg"), "green"),
    ("GreenMeadow", *mate("nature/GreenMeadow.jpg"), "green"),
    ("LadyBird", *mate("nature/LadyBird.jpg"), "saturation"),
    ("RainDrops", *mate("nature/RainDrops.jpg"), "local"),
    ("Storm", *mate("nature/Storm.jpg"), "local"),
    ("TwoWings", *mate("nature/TwoWings.jpg"), "hue"),
    ("Wood", *mate("nature/Wood.jpg"), "local"),
    ("YellowFlower", *mate("nature/YellowFlower.jpg"), "hue"),
]

# Grey images that are not photographs: rendered and painted wallpapers, for the halftones.
ARTWORK = [
    ("Altai", *plasma("Altai", "5120x2880.png")),
    ("Flow", *plasma("Flow", "5120x2880.jpg")),
    ("Honeywave", *plasma("Honeywave", "5120x2880.jpg")),
    ("IceCold", *plasma("IceCold", "5120x2880.png")),
    ("Kay", *plasma("Kay", "5120x2880.png")),
    ("Patak", *plasma("Patak", "5120x2880.png")),
    ("SafeLanding", *plasma("SafeLanding", "5120x2880.jpg")),
    ("Volna", *plasma("Volna", "5120x2880.jpg")),
    ("Elephants", *mate("abstract/Elephants_5640x3172.jpg")),
]


def seed_of(label):
    """A fixed seed per image, from its name, so that adding an image leaves the others alone."""
    return zlib.crc32(label.encode())


def run(command, **kwargs):
    subprocess.run(command, check=True, **kwargs)


# --- Rendering ------------------------------------------------------------------------------------

def render_grey(document, page, workdir):
    """One page of a PDF or PostScript file at 300 dpi in 8-bit grey, anti-aliased as a scanner's
    optics would see it."""
    out = os.path.join(workdir, "page.pgm")
    if os.path.exists(out):
        os.remove(out)
    run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw", "-r%d" % DPI,
         "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", "-dFirstPage=%d" % page,
         "-dLastPage=%d" % page, "-o", out, document])
    if not os.path.exists(out):
        sys.exit("make_corpus: %s has no page %d" % (document, page))
    with Image.open(out) as image:
        return image.convert("L")


def read_text(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", encoding="utf-8") as source:
        return source.read()


def plain_text_to_troff(text, how, family, size):
    """Plain text as troff input for the ms macros: paragraphs at blank lines ("columns",
    "columns1") or the text's own lines kept ("typed")."""
    def escape(line):
        line = line.replace("\\", "\\e")
        return "\\&" + line if line.startswith((".", "'")) else line

    lines = [".nr PS %d" % size, ".nr VS %d" % (size + 2), ".nr PO 0.9i", ".nr LL 6.4i",
             ".fam %s" % family, ".LP"]
    if how == "columns":
        lines.append(".2C")
    if how == "typed":
        lines.append(".nf")
        lines.extend(escape(line.expandtabs()) for line in text.splitlines())
    else:
        for paragraph in text.split("\n\n"):
            words = " ".join(line.strip() for line in paragraph.splitlines()).strip()
            if words:
                lines.extend([".PP", escape(words)])
    return "\n".join(lines) + "\n"


def groff_postscript(path, how, family, size, workdir):
    out = os.path.join(workdir, "%s-%s-%s-%d.ps" % (os.path.basename(path), how, family, size))
    if os.path.exists(out):
        return out
    text = read_text(path)
    if how == "man":
        command = ["groff", "-t", "-man", "-Tps", "-f" + family, "-rS%d" % size]
        source = text
    else:
        command = ["groff", "-ms", "-Tps"]
        source = plain_text_to_troff(text, how, family, size)
    command += ["-dpaper=a4", "-P-pa4"]
    with open(out, "wb") as ps:
        run(command, input=source.encode(), stdout=ps, stderr=subprocess.DEVNULL)
    return out


# --- Image operations on float pictures (1.0 = white paper) --------------------------------------

def to_float(image):
    return np.asarray(image, dtype=np.float32) / np.float32(255.0)


def to_image(values):
    return Image.fromarray(np.clip(values * 255.0 + 0.5, 0, 255).astype(np.uint8))


def gaussian_blur(values, sigma):
    return to_float(to_image(values).filter(ImageFilter.GaussianBlur(sigma)))


def box_mean(values, radius):
    """Mean over a (2 radius + 1)^2 square around each pixel, the square clipped at the edges."""
    padded = np.pad(values.astype(np.float64), radius + 1, mode="edge")
    sums = padded.cumsum(axis=0).cumsum(axis=1)
    h, w = values.shape
    d = 2 * radius + 1
    total = (sums[d:d + h, d:d + w] - sums[0:h, d:d + w] - sums[d:d + h, 0:w] + sums[0:h, 0:w])
    return (total / (d * d)).astype(np.float32)


def ramp(shape, angle):
    """0 at one side of the picture to 1 at the other, across the direction `angle`."""
    h, w = shape
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    along = x * np.float32(np.cos(angle)) + y * np.float32(np.sin(angle))
    return (along - along.min()) / (along.max() - along.min())


def flatbed_scan(page, rng):
    """A flatbed scanner in its 1-bit mode: the page a little skewed, the optics' blur, the lamp
    falling off towards one side, sensor noise, a fixed threshold."""
    angle = rng.uniform(-1.0, 1.0)
    blur = rng.uniform(0.6, 1.0)
    paper = rng.uniform(0.90, 0.97)
    falloff = rng.uniform(0.03, 0.10)
    ink = rng.uniform(0.80, 0.92)
    noise = rng.uniform(0.02, 0.035)
    threshold = rng.uniform(0.45, 0.58)
    skewed = page.rotate(angle, resample=Image.BICUBIC, fillcolor=255)
    darkness = 1.0 - gaussian_blur(to_float(skewed), blur)
    light = paper * (1.0 - falloff * ramp(darkness.shape, rng.uniform(0, 2 * np.pi)))
    seen = light * (1.0 - ink * darkness)
    seen += rng.standard_normal(seen.shape, dtype=np.float32) * np.float32(noise)
    steps = ("flatbed: rotate %.2f deg, blur sigma %.2f px, paper %.2f with %.0f%% lamp falloff, "
             "ink %.2f, noise sigma %.3f, fixed threshold %.2f"
             % (angle, blur, paper, 100 * falloff, ink, noise, threshold))
    return seen < threshold, steps


def book_scan(page, rng):
    """A bound book on a flatbed or a copier: as flatbed_scan, and the page curving away from the
    glass at the spine, a shadow that darkens towards that edge (to black, under a threshold)."""
    angle = rng.uniform(-1.5, 1.5)
    blur = rng.uniform(0.7, 1.1)
    paper = rng.uniform(0.88, 0.95)
    depth = rng.uniform(0.55, 0.80)
    width = rng.uniform(60, 160)
    left = bool(rng.integers(0, 2))
    ink = rng.uniform(0.80, 0.92)
    noise = rng.uniform(0.02, 0.04)
    threshold = rng.uniform(0.45, 0.55)
    skewed = page.rotate(angle, resample=Image.BICUBIC, fillcolor=255)
    darkness = 1.0 - gaussian_blur(to_float(skewed), blur)
    h, w = darkness.shape
    x = np.arange(w, dtype=np.float32)
    distance = x if left else (w - 1) - x
    light = paper * (1.0 - depth * np.exp(-distance / np.float32(width)))[np.newaxis, :]
    seen = light * (1.0 - ink * darkness)
    seen += rng.standard_normal(seen.shape, dtype=np.float32) * np.float32(noise)
    steps = ("book: rotate %.2f deg, blur sigma %.2f px, paper %.2f, spine shadow on the %s edge "
             "%.0f%% deep falling off over %.0f px, ink %.2f, noise sigma %.3f, fixed threshold "
             "%.2f" % (angle, blur, paper, "left" if left else "right", 100 * depth, width, ink,
                       noise, threshold))
    return seen < threshold, steps


def phone_photo(page, rng):
    """A page photographed with a phone and made 1-bit by a document app: a slight perspective,
    more blur, light falling off across the page and in the corners, a soft shadow, sensor noise
    smoothed by the camera, then a threshold against the local mean (what such apps do)."""
    w, h = page.size
    jitter = [rng.uniform(-0.015, 0.015) for _ in range(8)]
    corners = [0, 0, 0, h, w, h, w, 0]  # upper left, lower left, lower right, upper right
    quad = [c + j * (w if i % 2 == 0 else h) for i, (c, j) in enumerate(zip(corners, jitter))]
    blur = rng.uniform(1.1, 1.7)
    paper = rng.uniform(0.85, 0.95)
    falloff = rng.uniform(0.15, 0.30)
    vignette = rng.uniform(0.15, 0.30)
    shadow = rng.uniform(0.10, 0.25)
    ink = rng.uniform(0.75, 0.90)
    noise = rng.uniform(0.03, 0.05)
    offset = rng.uniform(0.08, 0.12)
    warped = page.transform((w, h), Image.QUAD, quad, resample=Image.BICUBIC, fillcolor=255)
    darkness = 1.0 - gaussian_blur(to_float(warped), blur)
    y, x = np.mgrid[0:h, 0:w].astype(np.float32)
    r2 = ((x - w / 2) / (w / 2)) ** 2 + ((y - h / 2) / (h / 2)) ** 2
    light = paper * (1.0 - falloff * ramp(darkness.shape, rng.uniform(0, 2 * np.pi)))
    light *= 1.0 - vignette * r2 / 2
    edge = ramp(darkness.shape, rng.uniform(0, 2 * np.pi))
    light *= 1.0 - shadow / (1.0 + np.exp((edge - 0.25) * 40.0))  # a soft-edged shadow on one side
    seen = light * (1.0 - ink * darkness)
    seen += rng.standard_normal(seen.shape, dtype=np.float32) * np.float32(noise)
    seen = gaussian_blur(seen, 0.7)
    black = seen < box_mean(seen, 20) - offset
    steps = ("phone: perspective (corners moved up to 1.5%%), blur sigma %.2f px, paper %.2f with "
             "%.0f%% falloff, %.0f%% vignette, %.0f%% shadow, ink %.2f, noise sigma %.3f smoothed "
             "(sigma 0.7), threshold at the 41x41 local mean - %.3f"
             % (blur, paper, 100 * falloff, 100 * vignette, 100 * shadow, ink, noise, offset))
    return black, steps


# --- Masks and halftones -------------------------------------------------------------------------

def otsu(values):
    """Otsu's threshold of 8-bit values: the t that best splits them into <= t and > t."""
    hist = np.bincount(values.ravel(), minlength=256).astype(np.float64)
    levels = np.arange(256, dtype=np.float64)
    weight0 = hist.cumsum()
    weight1 = weight0[-1] - weight0
    sum0 = (hist * levels).cumsum()
    mean0 = sum0 / np.maximum(weight0, 1)
    mean1 = (sum0[-1] - sum0) / np.maximum(weight1, 1)
    between = weight0 * weight1 * (mean0 - mean1) ** 2
    return int(np.argmax(between))


def clean(black, size):
    """Morphological opening then closing with a size x size square: specks and pinholes go."""
    image = Image.fromarray(black.astype(np.uint8) * 255)
    image = image.filter(ImageFilter.MinFilter(size)).filter(ImageFilter.MaxFilter(size))
    image = image.filter(ImageFilter.MaxFilter(size)).filter(ImageFilter.MinFilter(size))
    return np.asarray(image) > 127


def mask_luma(photo):
    grey = np.asarray(photo.convert("L").filter(ImageFilter.GaussianBlur(1.5)))
    t = otsu(grey)
    return clean(grey <= t, 5), ("luma (ITU-R 601), blur sigma 1.5, Otsu threshold %d, dark side "
                                 "black, open+close 5x5" % t)


def mask_saturation(photo):
    hsv = photo.filter(ImageFilter.GaussianBlur(1.5)).convert("HSV")
    saturation = np.asarray(hsv.getchannel("S"))
    t = otsu(saturation)
    return clean(saturation > t, 5), ("HSV saturation, blur sigma 1.5, Otsu threshold %d, "
                                      "saturated side black, open+close 5x5" % t)


def mask_green(photo):
    rgb = np.asarray(photo.filter(ImageFilter.GaussianBlur(1.5))).astype(np.int16)
    excess = np.clip(2 * rgb[..., 1] - rgb[..., 0] - rgb[..., 2], 0, 255).astype(np.uint8)
    t = otsu(excess)
    return clean(excess > t, 5), ("excess green 2G-R-B, blur sigma 1.5, Otsu threshold %d, "
                                  "green side black, open+close 5x5" % t)


def mask_hue(photo):
    hsv = np.asarray(photo.filter(ImageFilter.GaussianBlur(1.5)).convert("HSV")).astype(np.int16)
    hue, sat, val = hsv[..., 0], hsv[..., 1], hsv[..., 2]
    coloured = (sat > 64) & (val > 48)
    counts = np.bincount(hue[coloured] // 8, minlength=32)
    centre = int(np.argmax(counts)) * 8 + 4
    distance = np.abs(((hue - centre + 128) % 256) - 128)
    black = coloured & (distance < 20)
    return clean(black, 5), ("HSV hue within 20/256 of the most common hue (%d) among pixels of "
                             "saturation > 64 and value > 48, blur sigma 1.5, open+close 5x5"
                             % centre)


def mask_local(photo):
    grey = to_float(photo.convert("L").filter(ImageFilter.GaussianBlur(1.5)))
    black = grey < box_mean(grey, 50) - np.float32(4.0 / 255)
    return clean(black, 5), ("luma (ITU-R 601), blur sigma 1.5, black where darker than the "
                             "101x101 local mean by more than 4/255, open+close 5x5")


MASKS = {"saturation": mask_saturation, "green": mask_green, "hue": mask_hue, "local": mask_local}


def bayer(order):
    matrix = np.zeros((1, 1), dtype=np.int64)
    while matrix.shape[0] < order:
        matrix = np.block([[4 * matrix, 4 * matrix + 2], [4 * matrix + 3, 4 * matrix + 1]])
    return matrix


def halftone_floyd_steinberg(grey):
    # Pillow's conversion to mode "1" diffuses the error with the Floyd-Steinberg weights.
    return ~np.asarray(grey.convert("1", dither=Image.FLOYDSTEINBERG)), \
        "Floyd-Steinberg error diffusion (Pillow convert('1'))"


def halftone_bayer(grey):
    values = np.asarray(grey, dtype=np.int64)
    h, w = values.shape
    thresholds = (bayer(8) * 4 + 2)  # 64 levels spread over 0..255
    tiled = np.tile(thresholds, (h // 8 + 1, w // 8 + 1))[:h, :w]
    return values < tiled, "ordered dither, 8x8 Bayer matrix"


# --- Output ---------------------------------------------------------------------------------------

class SetWriter:
    def __init__(self, out_dir, name):
        self.name = name
        self.images = os.path.join(out_dir, "images", name)
        os.makedirs(self.images, exist_ok=True)
        for stale in os.listdir(self.images):
            os.remove(os.path.join(self.images, stale))
        self.raw_path = os.path.join(out_dir, name + ".raw")
        self.raw = open(self.raw_path + ".part", "wb")
        self.tsv_path = os.path.join(out_dir, name + ".tsv")
        self.tsv = open(self.tsv_path + ".part", "w", encoding="utf-8")
        self.tsv.write("name\twidth\theight\tbytes\tblack\tsource\tsteps\n")
        self.count = 0
        self.bytes = 0

    def add(self, label, black, source, steps):
        h, w = black.shape
        packed = np.packbits(black, axis=1)  # rows padded to whole bytes, most significant first
        data = packed.tobytes()
        self.count += 1
        name = "%02d-%s" % (self.count, label)
        with open(os.path.join(self.images, name + ".pbm"), "wb") as pbm:
            pbm.write(b"P4\n%d %d\n" % (w, h))
            pbm.write(data)
        self.raw.write(data)
        self.bytes += len(data)
        share = float(black.mean())
        self.tsv.write("%s\t%d\t%d\t%d\t%.3f\t%s\t%s\n" % (name, w, h, len(data), share, source,
                                                         steps))
        print("  %-36s %5d x %5d  %8d bytes  %4.1f%% black" % (name, w, h, len(data), 100 * share),
              flush=True)

    def close(self):
        self.raw.close()
        self.tsv.close()
        os.replace(self.raw_path + ".part", self.raw_path)
        os.replace(self.tsv_path + ".part", self.tsv_path)
        print("%s: %d images, %d bytes" % (self.name, self.count, self.bytes), flush=True)


def make_scans(out_dir, workdir):
    writer = SetWriter(out_dir, "scans")
    pages = [(label, package, path, page, None) for label, package, path, page in PDF_PAGES]
    for label, package, path, how, family, size, numbers in GROFF_DOCS:
        for number in numbers:
            pages.append(("%s-p%d" % (label, number), package, path, number, (how, family, size)))
    for index, (label, package, path, number, typeset) in enumerate(pages):
        rng = np.random.default_rng(seed_of(label))
        if typeset is None:
            document, origin = path, "%s: %s page %d" % (package, path, number)
        else:
            how, family, size = typeset
            document = groff_postscript(path, how, family, size, workdir)
            origin = ("%s: %s set by groff (%s, font family %s, %d pt, A4) page %d"
                      % (package, path, how, family, size, number))
        page = render_grey(document, number, workdir)
        # In turn as from a flatbed scanner, a bound book on a copier, a phone's camera.
        degrade = (flatbed_scan, book_scan, phone_photo)[index % 3]
        black, steps = degrade(page, rng)
        writer.add(label, black, origin, "ghostscript 300 dpi grey (anti-aliased); " + steps)
    writer.close()


def load_rgb(path):
    with Image.open(path) as image:
        return image.convert("RGB")


def make_masks(out_dir):
    writer = SetWriter(out_dir, "masks")
    for label, package, path, second in PHOTOS:
        photo = load_rgb(path)
        origin = "%s: %s" % (package, path)
        for method in (mask_luma, MASKS[second]):
            black, steps = method(photo)
            writer.add("%s-%s" % (label, method.__name__[5:]), black, origin, steps)
    writer.close()


def make_halftones(out_dir):
    writer = SetWriter(out_dir, "halftones")
    sources = [photo[:3] for photo in PHOTOS] + ARTWORK
    for index, (label, package, path) in enumerate(sources):
        grey = load_rgb(path).convert("L")
        method = halftone_bayer if index % 3 == 1 else halftone_floyd_steinberg
        black, steps = method(grey)
        kind = "bayer" if method is halftone_bayer else "fs"
        writer.add("%s-%s" % (label, kind), black, "%s: %s" % (package, path),
                   "luma (ITU-R 601) at full size; " + steps)
    writer.close()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out_dir = sys.argv[1]
    wanted = sys.argv[2:] or ["scans", "masks", "halftones"]
    sources = ([path for _, _, path, _ in PDF_PAGES] + [doc[2] for doc in GROFF_DOCS]
               + [photo[2] for photo in PHOTOS] + [art[2] for art in ARTWORK])
    missing = sorted(set(path for path in sources if not os.path.isfile(path)))
    if missing:
        sys.exit("make_corpus: missing sources (is the package installed, and does dpkg not drop "
                 "/usr/share/doc or /usr/share/man on this machine?):\n  " + "\n  ".join(missing))
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as workdir:
        for name in wanted:
            print("== %s" % name, flush=True)
            if name == "scans":
                make_scans(out_dir, workdir)
            elif name == "masks":
                make_masks(out_dir)
            elif name == "halftones":
                make_halftones(out_dir)
            else:
                sys.exit("make_corpus: unknown set %s" % name)


if __name__ == "__main__":
    main()
