#!/usr/bin/env python3
# What no one case shows of the save, run in the sandbox by
# `run_case.py CONFIG --exec save_runs save_runs.py CONFIG`: the clean-up of
# stale temporary files beside saves still writing, the mode and owner of a
# replaced file, a redirected standard output written in place, and runs at
# once sharing /tmp.
import base64, contextlib, fcntl, glob, json, os, random, stat, subprocess, sys

from run_case import materialize, read

config = json.load(open(sys.argv[1]))
tool = config['emulator'] + [config['tool']]
failures = []


def check(ok, what):
    print(('ok: ' if ok else 'FAILED: ') + what)
    failures.extend([] if ok else [what])


def save(source, output, **options):
    return subprocess.run(tool + [config['newest']] * 2 + [source, output], **options).returncode == 0


def temps():
    return {name for name in os.listdir() if config['temp_mark'] in name}


materialize({'config.xml': b'<config/>\n'}, '.')
# Saves still writing hold their files locked: the clean-up passes over each, whatever stale
# files it has met before it in the folder's order, and over what is no regular file.
temp = lambda: '.config.xml' + config['temp_mark'] + ''.join(random.choices('abcdefghijklmnopqrstuvwxyz', k=6))
held = [open(temp(), 'w') for _ in range(4)]
for file in held:
    fcntl.flock(file, fcntl.LOCK_EX)
materialize({temp(): b'' for _ in range(4)}, '.')
os.mkfifo(fifo := temp())
check(save('config.xml', 'config.xml') and temps() == {fifo} | {f.name for f in held},
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
images = [random.randbytes(200000) for _ in range(4)]  # one a run, all in the first background image
for r, image in enumerate(images):
    materialize({f'in{r}.xml': f'<config><portal-profiles xmlns="{portal}"><portal-profile><portal-ux><background>'
                 f'<content>{image.hex()}</content></background></portal-ux></portal-profile></portal-profiles></config>'
                 .encode()}, '.')
right = 0
for _ in range(20):
    runs = [subprocess.Popen(tool + ['v1.4', config['newest'], f'in{r}.xml', f'out{r}.xml']) for r in range(4)]
    right += sum(run.wait() == 0 and base64.b64encode(images[r]) in read(f'out{r}.xml')
                 for r, run in enumerate(runs))
check(right == 80 and [stat.S_IMODE(os.stat(path).st_mode) for path in glob.glob(config['images'])] == [0o640],
      f'4 runs at once sharing /tmp, 20 times: {right} of 80 kept their own images, in a file of 0666 less the umask')

sys.exit(1 if failures else 0)
