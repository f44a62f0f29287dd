#!/usr/bin/env python3
# The tool's saves stopped at each point a kill or a full memory can stop
# them, in the sandbox of `run_case.py CONFIG --exec sweeps sweeps.py CONFIG`:
# killed with the process group at each write, fsync and rename (kill:N of
# faults.cc), then run again; or with the Nth allocation failing (alloc:N; not
# over AddressSanitizer's allocator, which a preloaded one would hide). A kill
# leaves each file the case's run writes as it was or as that run leaves it,
# whole, and the run again leaves what the case's run leaves: no temporary
# file, the document migrated once. Out of memory, a run leaves that with
# status 0 or everything as it was with 3. The companion's runs cut short are
# crash_states.py's: its in-order model holds every state a kill leaves.
# Pairs of the companion's first migration run at once leave what one run
# leaves, both with status 0.
import fnmatch, gzip, itertools, json, os, random, re, shutil, subprocess, sys, time

from run_case import Case, companion, materialize, read, snapshot

config = json.load(open(sys.argv[1]))
tool = (config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []) + [config['tool']]
env = {'PATH': os.environ['PATH']} | {k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')}
env |= {'QEMU_SET_ENV': 'LD_PRELOAD=' + config['faults']} if config['emulator'] else {'TOOL_PRELOAD': config['faults']}
apply = companion(config, '..', tool, env)
alone = env if config['emulator'] else env | {'LD_PRELOAD': config['faults']}

# The tool's own save over its input, and over files of a name with a colon or a %XX escape, or of a
# compressed document (a variant's name has its folder's).
sweeps = [(name, 'kill:%d') for name in ('save-output-is-input', 'save-colon/variants/time-stamp',
                                         'save-percent-names/variants/escape-existing', 'save-compressed-replaced')]
sweeps += [] if config['sanitized'] == 'ON' else [('example-full-road', 'alloc:%d')]
tried, wrong = 0, []
documents = lambda files: {path: data for path, data in files.items() if not path.startswith('tmp/')}
# The working folder, and the images in /tmp, its tmp/: nothing else there is the run's (a tree cloned
# under /tmp shows there too).
images = lambda: [entry for entry in os.scandir('tmp') if fnmatch.fnmatch(entry.name, os.path.basename(config['images']))]
state = lambda: snapshot('.', './tmp') | {f'tmp/{entry.name}': read(entry.path) for entry in images()}


def reset(files):
    for entry in [*images(), *os.scandir('.')]:
        if entry.name != 'tmp':
            shutil.rmtree(entry.path) if entry.is_dir(follow_symlinks=False) else os.remove(entry.path)
    materialize(files, '.')


cases = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'cases')
for name, fault in sweeps:
    folder = os.path.join(cases, name)
    case = Case(config, folder.partition('/variants/')[0], '..', '/variants/' in name and folder)
    before, after = case.states()
    line = tool + case.command()[1]
    # Under an emulator, where a run takes five times as long, every fifth allocation.
    for n in itertools.count(1, 5 if config['emulator'] and 'alloc' in fault else 1):
        reset(before)
        first = subprocess.run(line, env=alone | {'CFGMIGRATE_FAULT': fault % n}, start_new_session=True, capture_output=True)
        left = state()
        if first.returncode == -9:
            torn = [path for path in after if left.get(path) not in (before.get(path), after[path])]
            again = subprocess.run(line, env=alone, capture_output=True)
            if torn or again.returncode or state() != after:
                wrong.append(f'{name} {fault % n}: torn {torn}, then status {again.returncode}, {again.stderr}')
        # Images already written to /tmp stay there.
        elif (first.returncode, documents(left)) not in ((0, documents(after)), (3, documents(before))):
            wrong.append(f'{name} {fault % n}: status {first.returncode}, {first.stderr}')
        tried += 1
        # A run the fault did not stop: no more points.
        if first.returncode != -9 and int((re.search(rb'allocations: (\d+)', first.stderr) or [0, 0])[1]) < n:
            break

# Pairs of runs of the first migration at once, the second started at a random point of the
# first's time: one migrates, the other finds nothing to do. Counted: a document migrated twice, a
# record of no version, a kept original overwritten.
case = Case(config, os.path.join(cases, 'apply-first-migration'), '..')
before, after = case.states()
line = apply + case.command()[1]
start = time.monotonic()
subprocess.run(line, env=env, capture_output=True)
span, counts, crowded = time.monotonic() - start, [0, 0, 0], []
for pair in range(40):
    reset(before)
    first = subprocess.Popen(line, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(random.uniform(0, span))
    statuses = (subprocess.run(line, env=env, capture_output=True).returncode, first.wait())
    left = state()
    counts[0] += left.get('config.xml') not in (before['config.xml'], after['config.xml'])
    counts[1] += left.get('config.xml.version') not in (before['config.xml.version'], after['config.xml.version'])
    counts[2] += left.get('config.xml.v1.0.16-20170810') not in (None, before['config.xml'])
    if statuses != (0, 0) or left != after:
        crowded.append(f'pair {pair}: statuses {statuses}, left {sorted(left)}')

# The tool's save over a good file on a small file system, a tmpfs whose room counts in 4 KiB pages:
# with each number of pages free from none to what the new document takes, the document padded to
# end a byte before, at and after a page (a compressed one as near as its padding comes). A plain
# name, a %XX name (the file of its decoded name) and a compressed document: the file is left old or
# new, whole, and new where it fits.
example = read(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'examples', 'config-v1.0.16.xml'))
padding, pages = random.Random(0).randbytes(10000).hex().encode(), lambda size: -(-size // 4096)
saves, torn_saves = 0, []


# What the save of the example padded with pad bytes leaves over the example with room pages free.
def save(pad, compress, output, room=16):
    data = example.replace(b'<config', b'<!-- %s -->\n<config' % padding[:pad], 1)
    materialize({'in.xml': gzip.compress(data) if compress else data}, '.')
    os.makedirs('small', exist_ok=True)
    subprocess.run(['mount', '-t', 'tmpfs', '-o', f'size={(pages(len(example)) + room) * 4096}', 'tmpfs', 'small'], check=True)
    materialize({output.replace('%41', 'A'): example}, 'small')
    assert os.statvfs('small').f_bavail * os.statvfs('small').f_frsize == room * 4096
    subprocess.run(tool + ['v1.0.16-20170810', 'v1.4.09', 'in.xml', 'small/' + output], env=env, capture_output=True)
    left = read('small/' + output.replace('%41', 'A'))
    subprocess.run(['umount', 'small'], check=True)
    return left


for output, compress in (('config.xml', False), ('a%41.xml', False), ('config.xml', True)):
    for end in (0, 4095, 4096, 4097, 8191, 8192, 8193, 12287, 12288, 12289):
        pad, new = 0, save(0, compress, output)
        while len(new) < end:
            pad, new = pad + end - len(new), save(pad + end - len(new), compress, output)
        for room in range(pages(len(new)) + 1) if pad or end in (0, len(new)) else []:
            left, saves = save(pad, compress, output, room), saves + 1
            if new == example or left not in (example, new) or (room == pages(len(new)) and left != new):
                torn_saves.append(f'{output}{" compressed" * compress} of {len(new)} bytes, {room} pages free: {len(left or b"")} left')
killed_wrong, wrong = len(wrong), wrong + torn_saves + crowded
print(f'{tried} runs stopped, by {len(sweeps)} cases: {killed_wrong} left anything but what the case leaves',
      f'{saves} saves over a good file with little room: {len(torn_saves)} left it neither old nor new',
      '40 pairs of runs at once: {} migrated twice, {} left a record of no version, {} overwrote the kept '
      'original'.format(*counts), *wrong, sep='\n')
sys.exit(1 if wrong or not tried or not saves else 0)
