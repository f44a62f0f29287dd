#!/usr/bin/env python3
# What no one case shows of the save, run in the sandbox by
# `run_case.py CONFIG --exec save_runs save_runs.py CONFIG`: kills during it
# and the next save clearing what they left, the mode and owner of a
# replaced file, a redirected standard output written in place, and runs at
# once sharing /tmp, runs that run out of memory.
import base64, concurrent.futures, contextlib, fcntl, json, os, random, re, stat, subprocess, sys, time

from run_case import Case, materialize, read

config = json.load(open(sys.argv[1]))
tool = config['emulator'] + [config['tool']]
failures = []


def check(ok, what):
    print(('ok: ' if ok else 'FAILED: ') + what)
    failures.extend([] if ok else [what])


def save(source, output, **options):
    return subprocess.run(tool + [config['newest']] * 2 + [source, output], **options).returncode == 0


# Starts a save of config.xml over itself; returns once its temporary file exists.
def save_started():
    before, run = temps(), subprocess.Popen(tool + [config['newest']] * 2 + ['config.xml', 'config.xml'])
    while run.poll() is None and not temps() - before:
        pass
    return run


def temps(folder='.'):
    return {name for name in os.listdir(folder) if '.cfgmigrate-' in name}


# 40,000 rules take long enough to save that most kills land inside the save.
old = b'<config>%s</config>\n' % b''.join(b'<rule><name>r%d</name><port>%d</port></rule>' % (i, i)
                                          for i in range(40000))
materialize({'config.xml': old}, '.')
run, started = save_started(), time.monotonic()
run.wait()
window, new = time.monotonic() - started, read('config.xml')
whole = inside = 0
for _ in range(20):
    materialize({'config.xml': old}, '.')
    run = save_started()
    time.sleep(random.uniform(0, 1.25 * window))  # past the rename at times
    run.kill(), run.wait()
    whole += read('config.xml') in (old, new)
    inside += bool(temps())  # the next save removes it
check(whole == 20 and inside,
      f'{whole} of 20 saves killed left the old or the new file whole, {inside} inside the save')
# Saves still writing hold their files locked: the clean-up passes over each, whatever stale
# files it has met before it in the folder's order, and over what is no regular file.
temp = lambda: '.config.xml.cfgmigrate-' + ''.join(random.choices('abcdefghijklmnopqrstuvwxyz', k=6))
held = [open(temp(), 'w') for _ in range(4)]
for file in held:
    fcntl.flock(file, fcntl.LOCK_EX)
materialize({temp(): b'' for _ in range(4)}, '.')
os.mkfifo(fifo := temp())
check(save('config.xml', 'config.xml') and read('config.xml') == new and temps() == {fifo} | {f.name for f in held},
      'the next save removes the temporary files killed saves left, not one still locked nor a FIFO')

materialize({'m.xml': b'<config/>\n'}, '.')
with contextlib.suppress(OSError):  # only the real root may give files away
    os.chown('m.xml', 1234, 5678)
os.chmod('m.xml', 0o2750)  # after chown, which clears set-id bits
before = os.stat('m.xml')
after = os.stat('m.xml') if save('m.xml', 'm.xml') else before
check(after.st_ino != before.st_ino and (after.st_mode, after.st_uid, after.st_gid) ==
      (before.st_mode, before.st_uid, before.st_gid), 'a replaced file keeps its mode and owner')
os.umask(0o027)
check(save('m.xml', 'new.xml') and stat.S_IMODE(os.stat('new.xml').st_mode) == 0o640,
      'a new file gets 0666 less the umask')
with open('out.txt', 'wb') as out:
    check(save('m.xml', '/dev/stdout', stdout=out) and read('out.txt') == read('m.xml') and
          os.stat('out.txt').st_ino == os.fstat(out.fileno()).st_ino,
          'a redirected standard output is written in place')

# Runs at once use the same image file names in /tmp: each keeps its own images.
portal = config['vendor'] + '/ns/orvalis/captive-portal'
images = [random.randbytes(200000) for _ in range(4)]  # one a run, all in /tmp/cpp_bg_0.jpg
for r, image in enumerate(images):
    materialize({f'in{r}.xml': f'<config><portal-profiles xmlns="{portal}"><portal-profile><portal-ux><background>'
                 f'<content>{image.hex()}</content></background></portal-ux></portal-profile></portal-profiles></config>'
                 .encode()}, '.')
right = 0
for _ in range(20):
    runs = [subprocess.Popen(tool + ['v1.4', config['newest'], f'in{r}.xml', f'out{r}.xml']) for r in range(4)]
    right += sum(run.wait() == 0 and base64.b64encode(images[r]) in read(f'out{r}.xml')
                 for r, run in enumerate(runs))
check(right == 80, f'4 runs at once sharing /tmp, 20 times: {right} of 80 kept their own images')

# The example upgraded onto itself once per allocation, that one failing (alloc:0 fails none and
# counts them): the old file with status 3 or the new one with 0, whole, no temporary file left.
# Not over AddressSanitizer's allocator, which a preloaded one would hide.
example = Case(config, os.path.join(os.path.dirname(__file__), 'cases', 'example-full-road'), '')
old, new, faults = example.file('input.xml'), example.file('expected.xml'), config['faults']
# qemu takes the preload for the tool alone.
env = os.environ | ({'QEMU_SET_ENV': 'LD_PRELOAD=' + faults} if config['emulator'] else {'LD_PRELOAD': faults})


def upgrade(n):
    materialize({f'oom/{n}.xml': old}, '.')
    args = example.file('args').decode().split()[1:3] + [f'oom/{n}.xml'] * 2
    return n, subprocess.run(tool + args, capture_output=True, env=env | {'CFGMIGRATE_FAULT': f'alloc:{n}'}), \
        read(f'oom/{n}.xml')


if config['sanitized'] != 'ON':
    count = int(re.search(rb'allocations: (\d+)', upgrade(0)[1].stderr)[1])
    # Under an emulator, where a run takes five times as long, every fifth.
    tried = range(1, count + 1, 5 if config['emulator'] else 1)
    wrong = [n for n, done, file in concurrent.futures.ThreadPoolExecutor(os.cpu_count()).map(upgrade, tried)
             if (file, done.returncode) not in ((old, 3), (new, 0))]
    check(count and not wrong and not temps('oom'), f'{len(tried)} of {count} allocations failed, one a run: '
          f'{len(wrong)} runs left other than the old file with status 3 or the new with 0: {wrong[:9]}')
sys.exit(1 if failures else 0)
