# Prepended to every batch (each -b runs on its own) with ${work}, ${batch} and the inputs' paths filled in by the harness.
import array, itertools, pathlib, time, zlib, gi
gi.require_version("Gimp", "3.0"); gi.require_version("Gegl", "0.4")
from gi.repository import Gimp, Gegl, Gio, GObject
PDB, ORVEX = Gimp.get_pdb(), Gimp.get_pdb().lookup_procedure("plugin-orvex")
RGB, RGBA, GRAY, GRAYA = (Gimp.ImageType(t) for t in range(4))
U8, U16, FLOAT = Gimp.Precision.U8_NON_LINEAR, Gimp.Precision.U16_NON_LINEAR, Gimp.Precision.FLOAT_LINEAR
NONINTERACTIVE, INTERACTIVE, LAST = Gimp.RunMode.NONINTERACTIVE, Gimp.RunMode.INTERACTIVE, Gimp.RunMode.WITH_LAST_VALS
def note(line, count=itertools.count(1)): pathlib.Path(f"${work}/results/${batch}-{next(count)}").write_text(line + "\n")  # PASS, FAIL, DONE
def expect(name, got, want): note(f"PASS {name}" if got == want else f"FAIL {name}: got {got!r}, expected {want!r}")
def orvex_done(): note("DONE")
def call(name, mode=NONINTERACTIVE, **args):  # (status nick, error message)
    proc = PDB.lookup_procedure(name); config = proc.create_config(); config.set_property("run-mode", mode)
    for key, value in args.items():
        config.set_core_object_array(key, value) if isinstance(value, list) else config.set_property(key.replace("_", "-"), value)
    result = proc.run(config); return result.index(0).value_nick, result.index(1) if result.length() > 1 else ""
def orvex(drw, mode=NONINTERACTIVE, drawables=None, **s): return call("plugin-orvex", mode, image=drw.get_image(), drawables=drawables or [drw], **s)
def rendered(path, mode=NONINTERACTIVE, **s): drw = load(path)[1]; expect(f"{mode.value_nick} {s}", orvex(drw, mode, **s), ("success", "")); return drw
def script_fu(code): return call("plug-in-script-fu-eval", script=code)
def load(path): img = Gimp.file_load(NONINTERACTIVE, Gio.File.new_for_path(path)); return img, img.get_layers()[0]
def copy(drw): return drw.get_image().duplicate().get_layers()[drw.get_image().get_item_position(drw)]
def new_image(w, h, kind=RGB, precision=U8, colour=(0, 0, 0)):
    img = Gimp.Image.new_with_precision(w, h, Gimp.ImageBaseType.RGB if kind < 2 else Gimp.ImageBaseType.GRAY, precision)
    img.insert_layer(layer := Gimp.Layer.new(img, "layer", w, h, kind, 100, Gimp.LayerMode.NORMAL), None, 0); return img, fill(layer, 0, 0, w, h, colour)
def fill(drw, x, y, w, h, colour):  # drawable coordinates, colour in 0..255; returns the drawable
    Gimp.context_push(); Gimp.context_set_foreground(Gegl.Color.new("#%02x%02x%02x" % colour)); ox, oy = drw.get_offsets()[1:]
    drw.get_image().select_rectangle(Gimp.ChannelOps.REPLACE, x + ox, y + oy, w, h)
    drw.edit_fill(Gimp.FillType.FOREGROUND); Gimp.Selection.none(drw.get_image()); Gimp.context_pop(); return drw
def put(drw, box, values): (buf := drw.get_buffer()).set(Gegl.Rectangle.new(*box), "R'G'B' double", array.array("d", values).tobytes()); buf.flush()
def user_items(img, x, y, w, h, radius):  # a user channel, and an elliptic selection feathered by radius
    img.insert_channel(channel := Gimp.Channel.new(img, "user", img.get_width(), img.get_height(), 50, Gegl.Color.new("blue")), None, 0)
    Gimp.context_push(); Gimp.context_set_feather(True); Gimp.context_set_feather_radius(radius, radius)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, x, y, w, h); Gimp.context_pop(); return channel
def state(img):  # ids of the selected layers, the selected channels and the channels; a checksum of the selection
    return [[i.get_id() for i in f()] for f in (img.get_selected_layers, img.get_selected_channels, img.get_channels)] + [
        zlib.crc32(pixels(img.get_selection()))]
def pixels(drw, box=None, fmt=None):  # fmt None: the drawable's own format
    return drw.get_buffer().get(Gegl.Rectangle.new(*(box or (0, 0, drw.get_width(), drw.get_height()))), 1.0, fmt, Gegl.AbyssPolicy.NONE)
def expect_near(name, a, b, levels, at):  # b against a's box at `at`: no colour more than levels of 255 apart
    shown = pixels(a, (*at, b.get_width(), b.get_height()), "R'G'B'A u8")
    wanted = pixels(b, None, "R'G'B'A u8")
    far = sum(abs(p - q) > levels for i, (p, q) in enumerate(zip(shown, wanted)) if i % 4 != 3)
    note(f"PASS {name}" if not far else f"FAIL {name}: {far} samples more than {levels} apart")
def expect_pixels(name, a, b, relation, box=None):  # 'same'/'differ' in any bit; 'brighter': a colour sample larger, none smaller ('darker' the reverse)
    same, (fmt, n) = pixels(a, box) == pixels(b, box), ("Y'A float", 2) if a.is_gray() else ("R'G'B'A float", 4)
    pairs = [(p, q) for i, (p, q) in enumerate(zip(*(array.array("f", pixels(d, box, fmt)) for d in (a, b)))) if i % n != n - 1]
    larger, smaller = sum(p > q for p, q in pairs), sum(p < q for p, q in pairs)
    ok = {"same": same, "differ": not same, "brighter": larger and not smaller, "darker": smaller and not larger}[relation]
    note(f"PASS {name}" if ok else f"FAIL {name}: {relation} expected; same {same}, larger {larger}, smaller {smaller}")
