#!/usr/bin/python3
"""Draws every image of the window skin into src/ui/skin/UI/.

One flat look for all windows: white ground, one accent colour, grey hints and
red for the warning. Shapes are drawn four times larger and scaled down, which
gives smooth edges without hand-made anti-aliasing. The output is committed;
run this again after changing a shape or a colour:

    /usr/bin/python3 scripts/make_images.py [--out DIR]

Needs Debian's python3-pil and the CJK font of fonts-wqy-microhei (for the
button captions that live in the images).
"""

import argparse
import math
import os
import sys

try:
    from PIL import Image, ImageDraw, ImageFont
except ImportError:
    sys.exit("make_images.py: Pillow is missing (apt-get install python3-pil; "
             "run with /usr/bin/python3)")

ACCENT = (0x2D, 0x8C, 0xF0)
ACCENT_LIGHT = (0x57, 0xA3, 0xF3)
ACCENT_DARK = (0x1F, 0x6F, 0xC9)
ACCENT_PALE = (0xEA, 0xF4, 0xFE)
HINT = (0xA0, 0xA0, 0xA0)
TEXT = (0x44, 0x42, 0x42)
RULE = (0xE3, 0xE3, 0xE3)
BORDER = (0xDC, 0xDE, 0xE2)
WARN = (0xFF, 0x55, 0x55)
WARN_DARK = (0xE0, 0x3E, 0x3E)
WHITE = (0xFF, 0xFF, 0xFF)
GROUND = (0xF7, 0xF9, 0xFC)
DISABLED = (0xD6, 0xD6, 0xD6)

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
SCALE = 4  # drawing scale before the final down-sampling


def rgba(c, a=255):
    return (c[0], c[1], c[2], a)


class Canvas:
    """A transparent RGBA picture drawn at SCALE times its final size."""

    def __init__(self, w, h, ground=None):
        self.w, self.h = w, h
        fill = rgba(ground) if ground else (0, 0, 0, 0)
        self.img = Image.new("RGBA", (w * SCALE, h * SCALE), fill)
        self.draw = ImageDraw.Draw(self.img)

    @staticmethod
    def s(v):
        return round(v * SCALE)

    def box(self, x0, y0, x1, y1):
        return [self.s(x0), self.s(y0), self.s(x1) - 1, self.s(y1) - 1]

    def rounded(self, x0, y0, x1, y1, r, fill=None, outline=None, width=1.0):
        self.draw.rounded_rectangle(self.box(x0, y0, x1, y1), radius=self.s(r),
                                    fill=rgba(fill) if fill else None,
                                    outline=rgba(outline) if outline else None,
                                    width=self.s(width) if outline else 0)

    def ellipse(self, x0, y0, x1, y1, fill=None, outline=None, width=1.0):
        self.draw.ellipse(self.box(x0, y0, x1, y1),
                          fill=rgba(fill) if fill else None,
                          outline=rgba(outline) if outline else None,
                          width=self.s(width) if outline else 0)

    def line(self, pts, colour, width, alpha=255):
        self.draw.line([(self.s(x), self.s(y)) for x, y in pts],
                       fill=rgba(colour, alpha), width=self.s(width), joint="curve")
        # Round caps: the library draws square ends, which look heavy on thin icons.
        r = width / 2
        for x, y in (pts[0], pts[-1]):
            self.ellipse(x - r, y - r, x + r, y + r, fill=colour)

    def polygon(self, pts, fill):
        self.draw.polygon([(self.s(x), self.s(y)) for x, y in pts], fill=rgba(fill))

    def arc(self, cx, cy, radius, start, end, colour, width):
        b = self.box(cx - radius, cy - radius, cx + radius, cy + radius)
        self.draw.arc(b, start, end, fill=rgba(colour), width=self.s(width))

    def text(self, cx, cy, caption, size, colour):
        font = ImageFont.truetype(FONT_PATH, self.s(size))
        self.draw.text((self.s(cx), self.s(cy)), caption, font=font, fill=rgba(colour),
                       anchor="mm")

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)


def save(img, out, name):
    path = os.path.join(out, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.save(path, optimize=True)
    return path


# ---- small 20 x 20 title-bar buttons -------------------------------------

def title_button(glyph, colour, ground=None):
    c = Canvas(20, 20)
    if ground:
        c.rounded(0, 0, 20, 20, 4, fill=ground)
    glyph(c, colour)
    return c.result()


def glyph_close(c, colour):
    c.line([(6, 6), (14, 14)], colour, 1.6)
    c.line([(14, 6), (6, 14)], colour, 1.6)


def glyph_min(c, colour):
    c.line([(5.5, 10.5), (14.5, 10.5)], colour, 1.6)


def glyph_gear(c, colour):
    cx, cy = 10, 10
    teeth = 8
    pts = []
    for i in range(teeth * 4):
        a = 2 * math.pi * i / (teeth * 4)
        r = 7.2 if (i % 4) in (0, 1) else 5.6
        pts.append((cx + r * math.cos(a - math.pi / teeth / 2),
                    cy + r * math.sin(a - math.pi / teeth / 2)))
    c.polygon(pts, colour)
    c.ellipse(cx - 2.4, cy - 2.4, cx + 2.4, cy + 2.4, fill=WHITE)


def title_buttons(out):
    hover_ground = (0xF0, 0xF2, 0xF5)
    push_ground = (0xE3, 0xE6, 0xEB)
    made = [
        save(title_button(glyph_close, HINT), out, "closebtn_normal.png"),
        save(title_button(glyph_close, WARN, hover_ground), out, "closebtn_hover.png"),
        # The message dialog names its hover state "hot".
        save(title_button(glyph_close, WARN, hover_ground), out, "closebtn_hot.png"),
        save(title_button(glyph_close, WARN_DARK, push_ground), out, "closebtn_push.png"),
        save(title_button(glyph_min, HINT), out, "minbtn_normal.png"),
        save(title_button(glyph_min, ACCENT, hover_ground), out, "minbtn_hover.png"),
    ]
    # The gear's hole must show the ground behind it, so it is punched in that colour.
    for name, colour, ground in (("setbtn_normal.png", HINT, None),
                                 ("setbtn_hover.png", ACCENT, hover_ground)):
        c = Canvas(20, 20)
        if ground:
            c.rounded(0, 0, 20, 20, 4, fill=ground)
        glyph_gear(c, colour)
        c.ellipse(7.6, 7.6, 12.4, 12.4, fill=ground or WHITE)
        if not ground:
            # Without a ground the hole is cut out instead of painted white.
            hole = Image.new("L", c.img.size, 0)
            ImageDraw.Draw(hole).ellipse(c.box(7.6, 7.6, 12.4, 12.4), fill=255)
            c.img.putalpha(Image.composite(Image.new("L", c.img.size, 0),
                                           c.img.getchannel("A"), hole))
        made.append(save(c.result(), out, name))
    return made


# ---- logo ----------------------------------------------------------------

def speaker(c, x, y, h, colour):
    """A loudspeaker whose box starts at x and spans h pixels around y."""
    k = h / 10.0
    c.rounded(x, y - 2.2 * k, x + 3.2 * k, y + 2.2 * k, 0.8 * k, fill=colour)
    c.polygon([(x + 2.4 * k, y - 2.2 * k), (x + 6.4 * k, y - 5 * k),
               (x + 6.4 * k, y + 5 * k), (x + 2.4 * k, y + 2.2 * k)], colour)


def logos(out):
    made = []
    # The brand logo: a speaker with two waves on the accent square.
    c = Canvas(30, 30)
    c.rounded(0, 0, 30, 30, 7, fill=ACCENT)
    speaker(c, 6, 15, 12, WHITE)
    c.arc(14, 15, 4.5, -50, 50, WHITE, 1.8)
    c.arc(14, 15, 8.5, -50, 50, WHITE, 1.8)
    made.append(save(c.result(), out, "logo_qb.png"))
    # The neutral logo shown before the window has set its own.
    c = Canvas(30, 30)
    c.rounded(0.5, 0.5, 29.5, 29.5, 7, fill=WHITE, outline=ACCENT, width=1.5)
    speaker(c, 6, 15, 12, ACCENT)
    c.arc(14, 15, 4.5, -50, 50, ACCENT, 1.8)
    c.arc(14, 15, 8.5, -50, 50, ACCENT, 1.8)
    made.append(save(c.result(), out, "logo.png"))
    return made


# ---- wide buttons with their caption ---------------------------------------

def filled_button(w, h, caption, ground, size, text=WHITE, outline=None):
    c = Canvas(w, h)
    c.rounded(0, 0, w, h, 4, fill=ground, outline=outline, width=1)
    if caption:
        c.text(w / 2, h / 2, caption, size, text)
    return c.result()


def buttons(out):
    return [
        save(filled_button(258, 40, "登录", ACCENT, 16), out, "btn_login_normal.png"),
        save(filled_button(258, 40, "登录", ACCENT_LIGHT, 16), out, "btn_login_hover.png"),
        save(filled_button(90, 30, "我知道了", ACCENT, 14), out, "btn_know_normal.png"),
        save(filled_button(90, 30, "我知道了", ACCENT_LIGHT, 14), out, "btn_know_hover.png"),
        save(filled_button(258, 40, "保存", ACCENT, 16), out, "btn_save_normal.png"),
        save(filled_button(258, 40, "保存", ACCENT_LIGHT, 16), out, "btn_save_hover.png"),
        # Logging out ends the program: an outlined button, quieter than the others.
        save(filled_button(258, 40, "退出登录", WHITE, 16, text=ACCENT, outline=ACCENT),
             out, "btn_out_normal.png"),
        save(filled_button(258, 40, "退出登录", ACCENT_PALE, 16, text=ACCENT, outline=ACCENT),
             out, "btn_out_hover.png"),
        # The add button carries its own text "添加"; the image is only its ground.
        save(filled_button(50, 25, None, ACCENT_PALE, 12, outline=ACCENT), out, "btn_add.png"),
    ]


# ---- edits, tabs -----------------------------------------------------------

def edits_and_tabs(out):
    made = []
    # Drawn with 5-pixel corners so that it can be stretched by its middle.
    c = Canvas(258, 36)
    c.rounded(0, 0, 258, 36, 5, fill=WHITE, outline=BORDER, width=1)
    made.append(save(c.result(), out, "editbk.png"))
    c = Canvas(180, 24)
    c.rounded(0, 0, 180, 24, 3, fill=WHITE, outline=BORDER, width=1)
    made.append(save(c.result(), out, "edit_bk.png"))
    # The selected tab: an accent bar under the caption.
    c = Canvas(64, 32)
    c.rounded(16, 29, 48, 32, 1.5, fill=ACCENT)
    made.append(save(c.result(), out, "opt_selected.png"))
    return made


# ---- warning and link state ------------------------------------------------

def warn_icon(size):
    c = Canvas(size, size)
    m = size * 0.06
    c.ellipse(m, m, size - m, size - m, fill=WARN)
    cx = size / 2
    w = size * 0.09
    c.rounded(cx - w, size * 0.22, cx + w, size * 0.60, w, fill=WHITE)
    c.ellipse(cx - w * 1.1, size * 0.68, cx + w * 1.1, size * 0.68 + 2.2 * w, fill=WHITE)
    return c.result()


def no_link(out):
    # A quiet ground with a broken cable at each side; the middle stays free for
    # the red text and the warning icon that the window puts there.
    w, h = 492, 178
    c = Canvas(w, h, ground=GROUND)
    faint = (0xDD, 0xE3, 0xEA)
    y = 89
    c.line([(0, y), (70, y)], faint, 3)
    c.rounded(70, y - 9, 92, y + 9, 3, fill=faint)
    c.line([(92, y - 4), (102, y - 4)], faint, 2.5)
    c.line([(92, y + 4), (102, y + 4)], faint, 2.5)
    c.line([(w, y), (w - 70, y)], faint, 3)
    c.rounded(w - 92, y - 9, w - 70, y + 9, 3, fill=faint)
    c.rounded(w - 100, y - 6, w - 92, y + 6, 1.5, fill=faint)
    for dx, dy in ((-8, -12), (0, -15), (8, -12)):
        c.line([(118 + dx * 0.6, y + dy * 0.6), (118 + dx, y + dy)], faint, 2)
    return save(c.result(), out, "no_link.png")


def gif_frames(frames, out, name, duration, transparent_mask=None):
    """Writes a looping GIF; the pixels under transparent_mask become see-through."""
    path = os.path.join(out, *name.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    paletted = []
    for f in frames:
        p = f.convert("RGB").quantize(colors=255, method=Image.Quantize.MEDIANCUT,
                                      dither=Image.Dither.NONE)
        if transparent_mask is not None:
            pal = p.getpalette()[: 255 * 3]
            pal += [255, 0, 255]
            p.putpalette(pal)
            p.paste(255, mask=transparent_mask)
            p.info["transparency"] = 255
        paletted.append(p)
    extra = {"transparency": 255} if transparent_mask is not None else {}
    paletted[0].save(path, save_all=True, append_images=paletted[1:], duration=duration,
                     loop=0, disposal=2, optimize=False, **extra)
    return path


def linked(out):
    # Sound bars that swell and settle while the service runs. The window floats its
    # text at 170,45 to 320,65, so the bars stay below it.
    w, h = 492, 178
    frames = []
    bars, bar_w, gap = 19, 6, 5
    total = bars * bar_w + (bars - 1) * gap
    x0 = (w - total) / 2
    base = 150
    count = 16
    for f in range(count):
        c = Canvas(w, h, ground=WHITE)
        phase = 2 * math.pi * f / count
        for i in range(bars):
            centre = 1 - abs(i - (bars - 1) / 2) / ((bars - 1) / 2)
            wave = 0.5 + 0.5 * math.sin(phase * 2 + i * 0.9) * math.cos(phase - i * 0.35)
            bh = 6 + (10 + 44 * centre) * abs(wave)
            x = x0 + i * (bar_w + gap)
            colour = ACCENT if centre > 0.3 else ACCENT_LIGHT
            c.rounded(x, base - bh, x + bar_w, base, bar_w / 2, fill=colour)
        c.rounded(x0 - 10, base + 6, x0 + total + 10, base + 8, 1, fill=RULE)
        frames.append(c.result())
    return gif_frames(frames, out, "linked.gif", 90)


def loading(out):
    # A spinner of twelve dots on white. The wait window paints its own
    # rounded white card and shadow around it: a GIF's on/off transparency
    # cannot draw smooth corners or a soft edge.
    size, dots = 72, 12
    frames = []
    for f in range(dots):
        c = Canvas(size, size, ground=WHITE)
        for i in range(dots):
            a = 2 * math.pi * i / dots - math.pi / 2
            age = (f - i) % dots
            shade = 1 - age / dots
            col = tuple(round(255 - (255 - ch) * max(shade, 0.12)) for ch in ACCENT)
            r = 2.2 + 2.0 * shade
            x, y = size / 2 + 24 * math.cos(a), size / 2 + 24 * math.sin(a)
            c.ellipse(x - r, y - r, x + r, y + r, fill=col)
        frames.append(c.result())
    return gif_frames(frames, out, "loading.gif", 80)


# ---- volume row, check box -------------------------------------------------

def volume_row(out):
    made = []
    c = Canvas(22, 20)
    speaker(c, 2, 10, 12, HINT)
    c.arc(9, 10, 4.5, -50, 50, HINT, 1.5)
    c.arc(9, 10, 8, -50, 50, HINT, 1.5)
    made.append(save(c.result(), out, "voice.png"))
    for name, colour in (("Slider_bk.png", RULE), ("Slider_Fore.png", ACCENT)):
        c = Canvas(258, 16)
        c.rounded(0, 6, 258, 10, 2, fill=colour)
        made.append(save(c.result(), out, name))
    c = Canvas(16, 16)
    c.ellipse(1, 1, 15, 15, fill=WHITE, outline=ACCENT, width=2)
    made.append(save(c.result(), out, "Thumb_normal.png"))
    c = Canvas(16, 16)
    c.ellipse(0.5, 0.5, 15.5, 15.5, fill=ACCENT)
    c.ellipse(5, 5, 11, 11, fill=WHITE)
    made.append(save(c.result(), out, "menu/Thumb_hover.png"))
    return made


def check_boxes(out):
    made = []

    def box(ground, outline, tick):
        c = Canvas(16, 16)
        c.rounded(1, 1, 15, 15, 2.5, fill=ground, outline=outline, width=1)
        if tick:
            c.line([(4.3, 8.2), (7, 10.8), (11.8, 5.4)], WHITE, 1.7)
        return c.result()

    made.append(save(box(WHITE, (0xC5, 0xC8, 0xCE), False), out, "check_normal.png"))
    made.append(save(box(WHITE, ACCENT, False), out, "check_hover.png"))
    made.append(save(box(ACCENT, ACCENT, True), out, "check_select.png"))
    made.append(save(box(ACCENT_LIGHT, ACCENT_LIGHT, True), out, "check_selhover.png"))
    return made


# ---- scroll bars -------------------------------------------------------------

SCROLL_STATES = {
    "normal": (0xC9, 0xCD, 0xD4),
    "hover": (0xA8, 0xAE, 0xB8),
    "down": ACCENT,
    "disable": (0xE6, 0xE8, 0xEB),
}


def scroll_bars(out):
    made = []
    for state, colour in SCROLL_STATES.items():
        c = Canvas(13, 13)
        c.polygon([(6.5, 4), (10, 9), (3, 9)], colour)
        made.append(save(c.result(), out, f"scrollbar/vscroll_up_{state}.png"))
        c = Canvas(13, 13)
        c.polygon([(3, 4), (10, 4), (6.5, 9)], colour)
        made.append(save(c.result(), out, f"scrollbar/vscroll_down_{state}.png"))
        # Thumbs are thin rounded bars, stretched along the bar by the control.
        c = Canvas(13, 30)
        c.rounded(3, 1, 10, 29, 3.5, fill=colour)
        made.append(save(c.result(), out, f"scrollbar/thumb_{state}.png"))
        c = Canvas(30, 10)
        c.rounded(1, 2, 29, 8, 3, fill=colour)
        made.append(save(c.result(), out, f"scrollbar/thumb_{state}_H.png"))
    return made


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, "..", "src", "ui", "skin", "UI")
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=default_out, help="folder of the images (UI)")
    args = ap.parse_args()
    if not os.path.exists(FONT_PATH):
        sys.exit(f"make_images.py: font {FONT_PATH} is missing "
                 "(apt-get install fonts-wqy-microhei)")
    out = os.path.normpath(args.out)
    made = []
    made += title_buttons(out)
    made += logos(out)
    made += buttons(out)
    made += edits_and_tabs(out)
    made.append(save(warn_icon(43), out, "warn.png"))
    made.append(no_link(out))
    made.append(linked(out))
    made.append(loading(out))
    made += volume_row(out)
    made += check_boxes(out)
    made += scroll_bars(out)
    for path in made:
        print(os.path.relpath(path, out))


if __name__ == "__main__":
    main()
