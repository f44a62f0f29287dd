#!/usr/bin/env python3
# Runs one case folder (tests/cases/README.md) through the built tool in the
# sandbox and prints `diff -u` of every expected file that differs. When
# anything differs, the run's box (build/tests/boxes/CASE) keeps its working
# folder and its streams.
#
#   run_case.py CONFIG CASE_DIR               exit 0, 1 on a difference, 77 to skip
#   run_case.py CONFIG --exec NAME COMMAND... run a command in the sandbox of box NAME
#
# CONFIG is the JSON the build writes: tool, emulator, faults, boxes, vendor, store, newest.
import difflib, glob, json, os, pathlib, re, shlex, shutil, socket, subprocess, sys, threading

SANDBOX = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'sandbox.sh')
# "<pri>Mmm dd hh:mm:ss ident: text", as the C library's syslog sends it: the
# tool calls no openlog, so the facility is user's and the ident glibc's
# program name, or musl's empty one followed by the text cut to fit 1024
# bytes and a newline unless it ended in one; the companion's logger names
# itself.
DATAGRAM = re.compile(rb'<(1[1345])>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d (?:cfgmigrate(?:-apply)?: (.*)|: (.*)\n)', re.S)
PRIORITY = {b'11': b'err', b'13': b'notice', b'14': b'info', b'15': b'debug'}


def read(path, default=None):
    return pathlib.Path(path).read_bytes() if os.path.lexists(path) else default


def fill(data, values):
    data = re.sub(rb'@REPEAT\((\d+),(.*?)\)@', lambda m: m[2] * int(m[1]), data, flags=re.S)
    for name, value in values.items():
        data = data.replace(name, value)
    return data


# Files and links under top: relative path -> bytes, or ('link', target).
def snapshot(top, skip=None):
    found = {}
    for folder, dirs, names in os.walk(top):
        dirs[:] = [name for name in dirs if os.path.join(folder, name) != skip]
        for path in [os.path.join(folder, name) for name in names + dirs]:
            if os.path.islink(path):
                found[os.path.relpath(path, top)] = ('link', os.fsencode(os.readlink(path)))
            elif not os.path.isdir(path):
                found[os.path.relpath(path, top)] = read(path)
    return found


def materialize(files, top):
    for name, content in files.items():
        path = os.path.join(top, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(content[1], path) if isinstance(content, tuple) else pathlib.Path(path).write_bytes(content)


# Runs command in a sandbox made in box; also the reason when none can be made.
def sandboxed(box, command, **options):
    prefix = ['unshare', '--mount'] + ([] if os.geteuid() == 0 else ['--map-root-user'])
    done = subprocess.run(prefix + ['bash', SANDBOX, box] + command, capture_output=True, **options)
    no_sandbox = done.returncode in (1, 125) and re.search(rb'\Aunshare: |^sandbox: cannot ', done.stderr, re.M)
    return done, done.stderr.decode(errors='replace').strip() if no_sandbox else None


# Syslog datagrams, read while the tool runs: a full queue would block it.
def receive(log, lines):
    while datagram := log.recv(1 << 20):
        m = DATAGRAM.fullmatch(datagram)
        line = PRIORITY[m[1]] + b' ' + (m[2] or m[3] or b'') if m else b'other ' + datagram
        lines.append(line + b'\n')


# The files of a case or of one of its variants: those its case file writes, and those beside
# it when it is a folder. A case file holds lines NAME: VALUE, each the one-line file NAME, then
# sections, each a line `--- PATH` and the lines of the file PATH up to the next section.
def entries(path):
    folder, path = (path, os.path.join(path, 'case')) if os.path.isdir(path) else (None, path)
    head, *sections = re.split(rb'^--- (\S+)\n', read(path, b''), flags=re.M)
    found = dict(zip(map(bytes.decode, sections[::2]), sections[1::2])) | {
        name.decode(): value + b'\n' for name, value in (line.split(b': ', 1) for line in head.splitlines() if line)}
    beside = snapshot(folder, os.path.join(folder, 'variants')) if folder else {}
    assert not set(found) & set(beside), f'{path}: {set(found) & set(beside)} both in the case file and beside it'
    return found | beside


# A case folder, its placeholders filled for a run in box; or one of its variants, a file or folder
# of its variants/, which takes each file and folder from itself where it has one.
class Case:

    def __init__(self, config, folder, box, variant=None):
        self.sources = [entries(path) for path in (variant, folder) if path]
        self.box, self.root = box, os.path.join(box, 'root')
        self.variants = config.get('variants', [])
        self.values = {b'@%s@' % key.upper().encode(): config[key].encode() for key in ('vendor', 'store', 'newest')}
        self.values[b'@DIR@'] = os.fsencode(self.root)

    # NAME, a file (under the key '') or a folder's files, from the run's own files, else the case's;
    # in each, NAME.VARIANT for the first variant of the build it has one for (what the C library or
    # libxml2's configuration decides) comes first.
    def find(self, name):
        names = [f'{name}.{variant}' for variant in self.variants] + [name]
        return next((found for files in self.sources for n in names if (found := {
            path[len(n) + 1:]: data for path, data in files.items() if path == n or path.startswith(n + '/')})), {})

    def file(self, name, default=None):
        return fill(self.find(name).get('', default), self.values)

    # Whether the line `run: PROGRAM ARGS` (quoted as sh quotes) runs the companion, and the arguments.
    def command(self):
        program, *args = shlex.split(self.find('run')[''].decode())
        assert program in ('cfgmigrate', 'cfgmigrate-apply'), f'run: {program}, not a program of the package'
        return program == 'cfgmigrate-apply', [fill(os.fsencode(arg), self.values) for arg in args]

    # The files of a folder of the case, with one given on its own under another name and the
    # symbolic links a file lists, a line each: PATH TARGET.
    def files(self, folder, single, name, links):
        found = {path: fill(data, self.values) for path, data in self.find(folder).items()} | {
            path.decode(): ('link', target) for path, target in (line.split(b' ', 1) for line in
                                                                self.file(links, b'').splitlines())}
        return found | ({name: self.file(single)} if self.find(single) else {})


# The command that runs the companion in box: the sh of BusyBox as OpenWrt
# configures it, with a PATH of its applets and the tool, which alone gets the
# emulator and the preload (taken out of env); a stand-in, NAME: bytes, takes
# an applet's place.
def companion(config, box, tool, env, stand_ins={}):
    busybox, bin, preload = os.path.join(config['busybox'], 'busybox'), os.path.join(box, 'bin'), env.pop('TOOL_PRELOAD', '')
    applets = read(os.path.join(config['busybox'], 'busybox.links')) or sys.exit(
        f'{busybox} is not built: run scripts/router-libs.sh busybox')
    env.pop('TOOL_ARGV0', None)
    os.makedirs(bin, exist_ok=True)
    for applet in applets.decode().split():
        os.symlink(busybox, os.path.join(bin, os.path.basename(applet)))
    wrapper = f'#!/bin/bash\nLD_PRELOAD={preload} exec -a cfgmigrate {shlex.join(tool)} "$@"\n'
    for name, data in ({'cfgmigrate': wrapper.encode()} | stand_ins).items():
        if os.path.lexists(path := os.path.join(bin, name)):
            os.remove(path)
        pathlib.Path(path).write_bytes(data)
        os.chmod(path, 0o755)
    return [busybox, 'env', 'PATH=' + bin, 'sh', config['apply']]


# Runs the case: the working folder before the run, the streams, and the reason
# when no sandbox could be made.
def run(config, case):
    shutil.rmtree(case.box, ignore_errors=True)
    os.makedirs(os.path.join(case.root, 'tmp'))
    materialize(before := case.files('files', 'input.xml', 'input.xml', 'links'), case.root)
    # A second name of a file, as a power cut inside a rename leaves one on JFFS2.
    for path, other in (line.split(b' ', 1) for line in case.file('second-names', b'').splitlines()):
        os.link(os.path.join(case.root, os.fsdecode(other)), os.path.join(case.root, os.fsdecode(path)))
        before[os.fsdecode(path)] = before[os.fsdecode(other)]
    materialize({'orvalis-yang.control': case.file('control')} if case.find('control') else {}, f'{case.box}/opkg')

    env = {'PATH': '/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin', 'LC_ALL': 'C', 'TOOL_ARGV0': 'cfgmigrate'} | {
        k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')}
    tool = (config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []) + [config['tool']]
    if case.find('tmp-mount'):
        env['TMP_MOUNT'] = case.file('tmp-mount').decode().strip()
    if case.find('fault'):
        env['CFGMIGRATE_FAULT'] = case.file('fault').decode().strip()
        # The emulator takes the preload for the tool alone.
        env |= {'QEMU_SET_ENV': 'LD_PRELOAD=' + config['faults']} if config['emulator'] else {
            'TOOL_PRELOAD': config['faults']}
    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    # Deep trees overflow sun_path. Without a syslog daemon /dev/log names nothing.
    log_path = f'/proc/self/fd/{os.open(case.box, os.O_RDONLY)}/' + ('down' if case.find('no-syslogd') else 'log')
    log.bind(log_path)
    reader = threading.Thread(target=receive, args=(log, lines := []))
    reader.start()
    try:
        apply, args = case.command()
        command = companion(config, case.box, tool, env, case.find('bin')) if apply else tool
        done, why = sandboxed(case.box, command + args, env=env, stdin=subprocess.DEVNULL, timeout=300)
    finally:
        socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(b'', log_path)
        reader.join()
    streams = {'status': b'%d\n' % done.returncode, 'stdout': done.stdout, 'stderr': done.stderr,
               'console': read(os.path.join(case.box, 'dev', 'console'), b''), 'syslog': b''.join(lines)}
    materialize(streams, os.path.join(case.box, 'streams'))
    return before, streams, why


def difference(name, expected, actual):
    if expected == actual:
        return ''
    if isinstance(expected, tuple) or isinstance(actual, tuple) or len(expected or actual or b'') > 1 << 18:
        return f'--- expected/{name}: {expected!r:.80}\n+++ actual/{name}: {actual!r:.80}\n'
    lines = lambda data: (data or b'').decode(errors='replace').splitlines(keepends=True)
    return ''.join(difflib.unified_diff(lines(expected), lines(actual), f'expected/{name}', f'actual/{name}'))


# What differs from what the case expects, and the reason when no sandbox could be made.
def check(config, case):
    expected, streams, why = run(config, case)
    expected |= case.files('after', 'expected.xml', 'output.xml', 'after-links')
    # Gone after the run; one that was never there is a difference of its own.
    for name in case.file('removed', b'').decode().split():
        expected[name] = None if name in expected else ('removed, but not there before the run',)
    actual = snapshot(case.root)
    # The streams, by names no file of the working folder can have.
    for name, data in streams.items():
        expected[f'<{name}>'] = case.file(name, b'0\n' if name == 'status' else b'')
        actual[f'<{name}>'] = re.sub(rb'cfgmigrate\(\d+\): ', b'cfgmigrate(N): ', data)
    # libxml2's messages are its own to word: a line @LIBXML2@ stands for one or more lines of them.
    parts = expected['<stderr>'].split(b'@LIBXML2@\n')
    if re.fullmatch(rb'.+\n(?:.*\n)*'.join(map(re.escape, parts)), actual['<stderr>']) and len(parts) > 1:
        expected['<stderr>'] = actual['<stderr>']
    return ''.join(difference(name, expected.get(name), actual.get(name)) for name in sorted(expected | actual)), why


# Each run of a case folder (itself, or each of its variants/) that differs, under its why
# line; and the reason when no sandbox could be made.
def check_folder(config, folder, box):
    report = ''
    for variant in sorted(glob.glob(os.path.join(folder, 'variants', '*'))) or [None]:
        case = Case(config, folder, os.path.join(box, os.path.basename(variant or '')), variant)
        differs, why = check(config, case) if case.find('why') and case.find('run') else ('no line why or run\n', None)
        label = f' (variants/{os.path.basename(variant)})' if variant else ''
        report += f"why{label}: {case.file('why', b'').decode().strip()}\n{differs}" if differs else ''
    return report, why


def main():
    config = json.loads(read(sys.argv[1]))
    command = sys.argv[2] == '--exec'
    box = os.path.join(config['boxes'], sys.argv[3] if command else os.path.basename(sys.argv[2].rstrip('/')))
    if command:
        shutil.rmtree(box, ignore_errors=True)
        done, why = sandboxed(box, sys.argv[4:])
        sys.stdout.buffer.write(done.stdout + done.stderr)
        report = f'{sys.argv[4:]} exited {done.returncode}' if done.returncode else ''
    else:
        report, why = check_folder(config, sys.argv[2], box)
    if why:
        print(f'no sandbox: {why}')
        return 1 if os.environ.get('CI') == 'true' else 77
    if report:
        print(report)
        return 1
    shutil.rmtree(box)
    return 0


if __name__ == '__main__':
    sys.exit(main())
