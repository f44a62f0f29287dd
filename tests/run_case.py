#!/usr/bin/env python3
"""Runs case folders (tests/cases/README.md) through the built tool in the
sandbox and prints `diff -u` of every expected file that differs.

  run_case.py CONFIG CASE_DIR...        exit 0, 1 on a difference, 77 to skip
  run_case.py CONFIG --show CASE_DIR    run once and print what happened
  run_case.py CONFIG --exec PROGRAM...  run a test program there, passing its status on

CONFIG is the JSON the build writes: tool, emulator, faults, boxes, vendor, store, newest.
"""
import difflib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
LEVELS = {6: b'info', 7: b'debug'}
DATAGRAM = re.compile(rb'<(\d+)>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d ([^:]*): (.*)', re.S)


def read(path, default=None):
    if not os.path.lexists(path):
        return default
    with open(path, 'rb') as f:
        return f.read()


def fill(data, values):
    """Expands @REPEAT(count,text)@ and the @NAME@ placeholders."""
    if isinstance(data, tuple):
        return ('link', fill(data[1], values))
    data = re.sub(rb'@REPEAT\((\d+),(.*?)\)@', lambda m: m[2] * int(m[1]), data, flags=re.S)
    for name, value in values.items():
        data = data.replace(name, value)
    return data


def snapshot(top):
    """Files and links under top: relative path -> bytes, or ('link', target)."""
    found = {}
    for folder, dirs, names in os.walk(top):
        for name in names + [d for d in dirs if os.path.islink(os.path.join(folder, d))]:
            path = os.path.join(folder, name)
            link = os.path.islink(path)
            found[os.path.relpath(path, top)] = ('link', os.fsencode(os.readlink(path))) if link else read(path)
    return found


def materialize(files, top):
    for name, content in files.items():
        path = os.path.join(top, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, tuple):
            os.symlink(content[1], path)
        else:
            with open(path, 'wb') as f:
                f.write(content)


class Syslog:
    """The datagrams the tool sends to /dev/log, read while it runs: a full
    queue would block its syslog calls."""

    def __init__(self, box):
        folder = os.open(box, os.O_RDONLY)
        self.path = f'/proc/self/fd/{folder}/log'  # deep trees overflow sun_path
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.socket.bind(self.path)
        self.lines = []
        self.thread = threading.Thread(target=self.receive)
        self.thread.start()

    def receive(self):
        while datagram := self.socket.recv(1 << 20):
            m = DATAGRAM.fullmatch(datagram)
            # No openlog: the default facility (user) and the program's name.
            if m and int(m[1]) >> 3 == 1 and m[2] == b'cfgmigrate':
                self.lines.append(LEVELS.get(int(m[1]) & 7, b'other') + b' ' + m[3] + b'\n')
            else:
                self.lines.append(b'other ' + datagram + b'\n')

    def close(self):
        socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(b'', self.path)
        self.thread.join()
        return b''.join(self.lines)


def namespace_prefix():
    """unshare's options, or the reason no private mount namespace can be made."""
    prefix = ['unshare', '--mount'] + ([] if os.geteuid() == 0 else ['--map-root-user'])
    probe = subprocess.run(prefix + ['true'], capture_output=True)
    why = probe.stderr.decode(errors='replace').strip() or f'unshare exited {probe.returncode}'
    return prefix, why if probe.returncode else None


def run(config, case, box, prefix):
    shutil.rmtree(box, ignore_errors=True)
    root = os.path.join(box, 'root')
    os.makedirs(os.path.join(root, 'tmp'))
    values = {b'@VENDOR@': config['vendor'].encode(), b'@STORE@': config['store'].encode(),
              b'@NEWEST@': config['newest'].encode(), b'@DIR@': os.fsencode(root)}
    before = {name: fill(content, values) for name, content in snapshot(os.path.join(case, 'files')).items()}
    if (data := read(os.path.join(case, 'input.xml'))) is not None:
        before['input.xml'] = fill(data, values)
    materialize(before, root)
    if (control := read(os.path.join(case, 'control'))) is not None:
        materialize({'orvalis-yang.control': fill(control, values)}, os.path.join(box, 'opkg'))

    args = fill(read(os.path.join(case, 'args'), b''), values).decode().splitlines()
    env = {'PATH': '/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin', 'LC_ALL': 'C', 'TOOL_ARGV0': 'cfgmigrate'}
    env.update({k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')})
    tool = config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []
    if (fault := read(os.path.join(case, 'fault'))) is not None:
        env['CFGMIGRATE_FAULT'] = fault.decode().strip()
        if tool:
            tool += ['-E', 'LD_PRELOAD=' + config['faults']]
        else:
            env['TOOL_PRELOAD'] = config['faults']
    command = prefix + ['bash', os.path.join(HERE, 'sandbox.sh'), box] + tool + [config['tool']] + args

    log = Syslog(box)
    try:
        done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    finally:
        syslog = log.close()
    return values, before, {'status': b'%d\n' % done.returncode, 'stdout': done.stdout, 'stderr': done.stderr,
                            'console': read(os.path.join(box, 'console'), b''), 'syslog': syslog}


def differences(name, expected, actual):
    if expected == actual:
        return ''
    if isinstance(expected, tuple) or isinstance(actual, tuple) or max(len(expected or b''), len(actual or b'')) > 1 << 18:
        return f'--- expected/{name}: {describe(expected)}\n+++ actual/{name}: {describe(actual)}\n'
    lines = lambda data: (data or b'').decode(errors='replace').splitlines(keepends=True)
    return ''.join(difflib.unified_diff(lines(expected), lines(actual), f'expected/{name}', f'actual/{name}'))


def describe(content):
    if content is None:
        return 'absent'
    if isinstance(content, tuple):
        return 'link to ' + content[1].decode(errors='replace')
    return f'{len(content)} bytes'


def check(config, case, prefix):
    box = os.path.join(config['boxes'], os.path.basename(case.rstrip('/')))
    values, before, streams = run(config, case, box, prefix)
    if streams['status'] == b'125\n' and streams['stderr'].startswith(b'sandbox:'):
        return None, streams['stderr'].decode(errors='replace').strip()
    report = ''
    for name, actual in streams.items():
        default = b'0\n' if name == 'status' else b''
        if name in ('console', 'syslog'):
            actual = re.sub(rb'cfgmigrate\(\d+\): ', b'cfgmigrate(N): ', actual)
        report += differences(name, fill(read(os.path.join(case, name), default), values), actual)
    expected = dict(before)
    expected.update({name: fill(data, values) for name, data in snapshot(os.path.join(case, 'after')).items()})
    if (data := read(os.path.join(case, 'expected.xml'))) is not None:
        expected['output.xml'] = fill(data, values)
    actual = snapshot(os.path.join(box, 'root'))
    for name in sorted(set(expected) | set(actual)):
        report += differences(name, expected.get(name), actual.get(name))
    if not report and not os.environ.get('SANDBOX_KEEP'):
        shutil.rmtree(box)
    return report, None


def show(config, case, prefix):
    box = os.path.join(config['boxes'], 'show')
    _, _, streams = run(config, case, box, prefix)
    for name in ('console', 'syslog', 'stdout', 'stderr'):
        print(f'== {name}\n{streams[name].decode(errors="replace")}', end='')
    print(f'== /tmp after the run\n' + ''.join(f'{n} ({describe(c)})\n' for n, c in snapshot(os.path.join(box, 'root', 'tmp')).items()), end='')
    print(f'== exit status {streams["status"].decode()}', end='')


def unavailable(why):
    print(f'no sandbox: {why}')
    return 1 if os.environ.get('CI') == 'true' else SKIP


def main():
    with open(sys.argv[1]) as f:
        config = json.load(f)
    mode, rest = (sys.argv[2], sys.argv[3:]) if sys.argv[2].startswith('--') else ('--check', sys.argv[2:])
    prefix, why = namespace_prefix()
    if why:
        return unavailable(why)
    if mode == '--show':
        return show(config, rest[0], prefix)
    if mode == '--exec':
        box = os.path.join(config['boxes'], os.path.basename(rest[0]))
        shutil.rmtree(box, ignore_errors=True)
        return subprocess.run(prefix + ['bash', os.path.join(HERE, 'sandbox.sh'), box] + config['emulator'] + rest).returncode
    failed = 0
    for case in rest:
        report, why = check(config, case, prefix)
        if why:
            return unavailable(why)
        if report:
            print(f'{case}:\n{report}')
            failed += 1
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
