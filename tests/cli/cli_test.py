# orvex-render; 'errors': refuses what it cannot do (exit 2, a clear message), keeps gray(+alpha) unwidened,
# tells its version (argv[3]); 'png': keeps 16 bits, raw values and colour chunks, never loses outputs,
# refuses size bombs, renders batches.
import os, resource, stat, struct, subprocess as sp, sys, tempfile, time, zlib
cli, failures, scratch = sys.argv[1], [], tempfile.TemporaryDirectory()
work = scratch.name; os.makedirs(f'{work}/sub/out')
def check(ok, what): ok or failures.append(what)
def done(): print('\n'.join(['FAIL: ' + f for f in failures] or [f'cli {sys.argv[2]}: all passed'])); sys.exit(bool(failures))
def run(*args, limit=None):
    return sp.run([cli, *args], capture_output=True, text=True, preexec_fn=limit and (lambda: resource.setrlimit(*limit)))
def chunk(kind, data): return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
def png(name, w, h, depth, ctype, samples, extra=b''):  # samples row by row, unfiltered
    row = len(samples) // h; fmt = '>%d%s' % (row, 'H' if depth == 16 else 'B')
    raw = b''.join(b'\0' + struct.pack(fmt, *samples[y * row:(y + 1) * row]) for y in range(h))
    open(f'{work}/{name}', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, 0))
                                     + extra + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
def gray(name, depth):  # the samples as ImageMagick reads them (it converts nothing here)
    data = sp.run(['convert', f'{work}/{name}', '-depth', str(depth), '-endian', 'MSB', 'gray:-'], capture_output=True).stdout
    return struct.unpack('>%d%s' % (len(data) * 8 // depth, 'H' if depth == 16 else 'B'), data) or [None]
def ihdr(name): return open(f'{work}/{name}.png', 'rb').read()[24:26]  # bit depth and colour type
png('g16.png', 40, 40, 16, 0, [0x4000] * 820 + [0xFFFF] + [0x4000] * 779)  # rays along row and column 20 only
icc = struct.pack('>I8s4s4s4s12s4s28x3I52x', 132, b'\2\x10', b'mntr', b'GRAY', b'XYZ ', b'', b'acsp', 0xF6D6, 0x10000, 0xD32D)
png('g8.png', 40, 40, 8, 0, [200] * 820 + [255] + [200] * 779,  # sRGB beside iCCP: both stay
    chunk(b'gAMA', struct.pack('>I', 45455)) + chunk(b'sRGB', b'\1')
    + chunk(b'iCCP', b'x\0\0' + zlib.compress(icc, 0)))
png('noise.png', 200, 200, 8, 2, [*os.urandom(120000)])  # incompressible: over 64 KiB and the file size limit
lit = [255 if 10 <= i % 40 <= 12 and 10 <= i // 40 <= 12 else 32 for i in range(1200)]  # a 3x3 light
png('gray.png', 40, 30, 8, 0, lit); png('graya.png', 40, 30, 8, 4, [v for g in lit for v in (g, max(g, 128))])
open(f'{work}/broken.png', 'w').write('not a png'); os.link(f'{work}/g8.png', f'{work}/sub/g16.png')
if sys.argv[2] == 'errors':
    g, o = f'{work}/gray.png', f'{work}/out.png'
    for text, *args in [('unknown option --glow', '--glow=3', g, o), ('--angle needs a number', '--angle=north', g, o),
                        ('--threshold needs a whole number', '--threshold=12.5', g, o), ('expected an input and an output file', g),
                        ('--threads must be at least 1', '--threads=0', g, o), ('at most 256', '--threads=100000', g, o),
                        ('cannot read PNG', f'{work}/missing.png', o), ('cannot read PNG', f'{work}/broken.png', o),
                        ("-o takes a directory, not '-'", '-o', '-', g), ("'-' in -o mode", '-o', work, '-')]:
        r = run(*args); check(r.returncode == 2 and text in r.stderr, f'refusal {args}: {r}')
    for name in ['gray', 'graya']:  # stays gray(+alpha), not widened to RGB, and gets rays
        r = run('--line_type=1', f'{work}/{name}.png', f'{work}/{name}-out.png')
        check(r.returncode == 0 and ihdr(name) == ihdr(f'{name}-out') and gray(f'{name}.png', 8) != gray(f'{name}-out.png', 8), f'{name}: {r}')
    r = run('--version')
    check(r.returncode == 0 and r.stdout == f'orvex-render {sys.argv[3]}\n', f'--version: {r}')
    done()
run(f'{work}/g16.png', f'{work}/o16.png'); out = gray('o16.png', 16)
check(out[0] == 0x4000 and any(v != 0x4000 and v % 257 for v in out), '16-bit: raw 0x4000 or 16-bit rays lost')
run(f'{work}/g8.png', f'{work}/o8.png'); body = open(f'{work}/o8.png', 'rb').read().partition(b'iCCPx\0\0')
check(gray('o8.png', 8)[0] == 200 and b'gAMA' in body[0] and b'sRGB\1' in body[0]
      and zlib.decompressobj().decompress(body[2]) == icc, '8-bit: 200, gAMA, sRGB and iCCP')
r = sp.run([cli, '-', '-'], input=open(f'{work}/g8.png', 'rb').read(), capture_output=True)
check(r.returncode == 0 and r.stdout == open(f'{work}/o8.png', 'rb').read(), f'standard streams: {r.stderr}')
os.mkfifo(f'{work}/fifo'); reader = sp.Popen(['head', '-c1', f'{work}/fifo'], stdout=sp.DEVNULL)  # unlinkable without root
r = run(f'{work}/noise.png', f'{work}/fifo'); reader.kill()
check(r.returncode == 2 and 'fifo' in r.stderr and stat.S_ISFIFO(os.stat(f'{work}/fifo').st_mode), f'FIFO: {r}')
before, names = open(f'{work}/noise.png', 'rb').read(), sorted(os.listdir(work))
r = run(f'{work}/noise.png', f'{work}/noise.png', limit=(resource.RLIMIT_FSIZE, (20000, 20000)))
check(r.returncode == 2 and open(f'{work}/noise.png', 'rb').read() == before and sorted(os.listdir(work)) == names, f'in place: {r}')
shm = f'/dev/shm/orvex-cli-{os.getpid()}.png'  # tmpfs: files there are safely replaced like any other
r = run(f'{work}/g8.png', shm)
check(r.returncode == 0 and os.path.isfile(shm), f'new file in /dev/shm: {r}')
open(shm, 'ab').close()  # there even when the run above failed
inode, before = os.stat(shm).st_ino, open(shm, 'rb').read()
r = run(f'{work}/noise.png', shm, limit=(resource.RLIMIT_FSIZE, (20000, 20000)))
check(r.returncode == 2 and open(shm, 'rb').read() == before, f'failed write in /dev/shm: {r}')
r = run(f'{work}/g8.png', shm)
check(r.returncode == 0 and os.stat(shm).st_ino != inode, f'replacing in /dev/shm: {r}')
os.remove(shm)
r = run(f'{work}/g16.png', '/dev/full'); check(r.returncode == 2 and os.path.exists('/dev/full'), f'/dev/full: {r}')
if not os.path.exists('/dev/full'): os.mknod('/dev/full', stat.S_IFCHR, os.makedev(1, 7)); os.chmod('/dev/full', 0o666)
png('bomb.png', 1000000, 1000, 8, 6, []); start = time.monotonic()
r = run(f'{work}/bomb.png', f'{work}/x.png', limit=(resource.RLIMIT_AS, (200 << 20, 200 << 20)))
check(r.returncode == 2 and 'more than the' in r.stderr and time.monotonic() - start < 0.5, f'size bomb: {r}')
r = run('-o', f'{work}/sub/out', *[f'{work}/{n}' for n in ['g16.png', 'broken.png', 'sub/g16.png', 'noise.png']])
check(r.returncode == 2 and r.stderr.count('orvex-render: ') == 2 and 'also the output' in r.stderr and
      sorted(os.listdir(f'{work}/sub/out')) == ['g16.png', 'noise.png'] and gray('sub/out/g16.png', 16) == out, f'batch: {r}')
done()
