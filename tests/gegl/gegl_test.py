# orvex:rays through the gegl command: the module loads, renders the bytes orvex-render writes (8- and 16-bit,
# thresholds on both sides of 254, every threshold and line type), and keeps every bit of a 16-bit TIFF
# where no ray lands. argv: orvex-render, the module's folder.
import os, shutil, struct, subprocess as sp, sys, tempfile, zlib
render, module_dir, failures = sys.argv[1], sys.argv[2], []
scratch = tempfile.TemporaryDirectory()
work = scratch.name
system_dir = sp.run(['pkg-config', '--variable=pluginsdir', 'gegl-0.4'], capture_output=True, text=True)
env = dict(os.environ, GEGL_PATH=f'{system_dir.stdout.strip()}:{module_dir}')

def check(ok, what):
    ok or failures.append(what)

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

def png(name, w, h, depth, ctype, pixel):  # pixel(x, y) -> samples; no colour chunks: nothing converts them
    fmt = '>%d%s' % (w * len(pixel(0, 0)), 'H' if depth == 16 else 'B')
    raw = b''.join(b'\0' + struct.pack(fmt, *[s for x in range(w) for s in pixel(x, y)]) for y in range(h))
    header = chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, 0))
    body = header + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
    open(f'{work}/{name}', 'wb').write(b'\x89PNG\r\n\x1a\n' + body)

def samples(path):  # 16-bit RGBA as ImageMagick reads it (8-bit values scaled exactly by 257)
    data = sp.run(['convert', path, '-depth', '16', '-endian', 'MSB', 'rgba:-'], capture_output=True).stdout
    return struct.unpack('>%dH' % (len(data) // 2), data)

def gegl(*args):  # its --info prints a garbled class name: no strict decoding
    return sp.run(['gegl', *args], env=env, capture_output=True, text=True, errors='replace')

if not shutil.which('gegl'):
    sys.exit('FAIL: the gegl command is missing (Debian package gegl)')
info = gegl('--info', 'orvex:rays')  # an unknown op would pass the image through unchanged, exit 0
check(info.returncode == 0 and 'gimp:menu-path' in info.stdout and 's-dephasing' in info.stdout,
      f'--info: {info}')

def scene(x, y, full):  # a white and a red-only disc (both outlast the shrink), a dim light, dark gradient
    if (x - 30) ** 2 + (y - 30) ** 2 <= 144:
        return (full, full, full)
    if (x - 80) ** 2 + (y - 50) ** 2 <= 81:
        return (full, full // 5, full // 6)
    if (x, y) == (60, 15):
        return (full * 96 // 100, full * 97 // 100, full * 92 // 100)
    return (x * full // 400, y * full // 300, full // 9)

png('rgb8.png', 110, 70, 8, 2, lambda x, y: scene(x, y, 255))
png('rgb16.png', 110, 70, 16, 2, lambda x, y: [v if v == 65535 else v ^ 257 for v in scene(x, y, 65535)])
png('gray8.png', 110, 70, 8, 0, lambda x, y: scene(x, y, 255)[:1])
numbers = {'each': 0, 'average': 1, 'weighted': 2, 'one': 1, 'cross': 2, 'six-points': 3, 'eight-points': 4}
rows = [  # threshold, threshold type, angle, line type, further settings
    (250, 'each', 0, 'cross', []),
    (240, 'average', 30, 'one', ['brightness=80', 'h1-density=40', 'h1-extent=20']),
    (200, 'weighted', 45, 'six-points', ['s-density=50', 's-dephasing=50']),
    (255, 'each', 10, 'eight-points', []),
    (258, 'average', 0, 'cross', []),
    (262, 'weighted', 90, 'one', ['s-amp=30', 's-extent=15'])]
for name in ['rgb8', 'rgb16', 'gray8']:
    source = f'{work}/{name}.png'
    for threshold, kind, angle, lines, extra in rows:
        settings = [f'threshold={threshold}', f'threshold-type={kind}', f'angle={angle}',
                    f'line-type={lines}']
        options = [f'--threshold={threshold}', f'--threshold_type={numbers[kind]}', f'--angle={angle}',
                   f'--line_type={numbers[lines]}', *['--' + s.replace('-', '_') for s in extra]]
        r = gegl(source, '-o', f'{work}/gegl.png', '--', 'orvex:rays', *settings, *extra)
        sp.run([render, *options, source, f'{work}/cli.png'], check=True)
        ours = samples(f'{work}/gegl.png')
        same = ours == samples(f'{work}/cli.png')
        ran = r.returncode == 0 and ours != samples(source)
        check(ran and same, f'{name} {settings} {extra}: {r.stderr[-300:]}')

# One light and one horizontal line: every other row of a 16-bit TIFF keeps its 16 bits.
png('one16.png', 64, 32, 16, 2,
    lambda x, y: (65535,) * 3 if (x, y) == (20, 9) else (x * 901 + 7, y * 2039 + 3, 4661))
sp.run(['convert', f'{work}/one16.png', f'{work}/one16.tif'], check=True)
r = gegl(f'{work}/one16.tif', '-o', f'{work}/out16.tif', '--', 'orvex:rays', 'line-type=one')
before, after = samples(f'{work}/one16.tif'), samples(f'{work}/out16.tif')
row = 64 * 4
check(r.returncode == 0 and len(after) == len(before) and any(v % 257 for v in before),
      f'TIFF: {r.stderr[-300:]}')
rows_kept = [before[y * row:(y + 1) * row] == after[y * row:(y + 1) * row] for y in range(32) if y != 9]
check(all(rows_kept), 'TIFF: bits lost')
check(before[9 * row:10 * row] != after[9 * row:10 * row], "TIFF: no ray on the light's row")
print('\n'.join(['FAIL: ' + f for f in failures] or ['gegl: all passed']))
sys.exit(bool(failures))
