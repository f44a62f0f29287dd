#!/usr/bin/env python3
# Runs one case folder (tests/cases/README.md) through the built tool in the
# sandbox and prints `diff -u` of every expected file that differs.
#
#   run_case.py CONFIG CASE_DIR          exit 0, 1 on a difference, 77 to skip
#   run_case.py CONFIG --show CASE_DIR   run it and print what happened
#   run_case.py CONFIG --exec PROGRAM... run a test program there, passing its status on
#
# CONFIG is the JSON the build writes: tool, emulator, faults, boxes, vendor, store, newest.
import difflib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading

SANDBOX = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'sandbox.sh')
# "<pri>Mmm dd hh:mm:ss ident: text", as the C library's syslog sends it.
DATAGRAM = re.compile(rb'<(\d+)>[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d ([^:]*): (.*)', re.S)


def read(path, default=None):
    if not os.path.lexists(path):
        return default
    with open(path, 'rb') as f:
        return f.read()


def fill(data, values):
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
        if isinstance(content, tuple):
            os.symlink(content[1], path)
        else:
            with open(path, 'wb') as f:
                f.write(content)


def receive(log, lines):
    """Syslog datagrams, read while the tool runs: a full queue would block it."""
    while datagram := log.recv(1 << 20):
        m = DATAGRAM.fullmatch(datagram)
        # No openlog: the default facility (user) and the program's name.
        if m and int(m[1]) >> 3 == 1 and m[2] == b'cfgmigrate':
            lines.append({6: b'info', 7: b'debug'}.get(int(m[1]) & 7, b'other') + b' ' + m[3] + b'\n')
        else:
            lines.append(b'other ' + datagram + b'\n')


def namespace_prefix():
    """unshare's options, and the reason no private mount namespace can be made."""
    prefix = ['unshare', '--mount'] + ([] if os.geteuid() == 0 else ['--map-root-user'])
    probe = subprocess.run(prefix + ['true'], capture_output=True)
    why = probe.stderr.decode(errors='replace').strip() or f'unshare exited {probe.returncode}'
    return prefix, why if probe.returncode else None


def run(config, case, box, prefix):
    shutil.rmtree(box, ignore_errors=True)
    root = os.path.join(box, 'root')
    os.makedirs(os.path.join(root, 'tmp'))
    values = {b'@' + key.upper().encode() + b'@': config[key].encode() for key in ('vendor', 'store', 'newest')}
    values[b'@DIR@'] = os.fsencode(root)
    given = lambda name, default=None: fill(read(os.path.join(case, name), default), values)
    before = {name: fill(content, values) for name, content in snapshot(os.path.join(case, 'files')).items()}
    if os.path.exists(os.path.join(case, 'input.xml')):
        before['input.xml'] = given('input.xml')
    materialize(before, root)
    if os.path.exists(os.path.join(case, 'control')):
        materialize({'orvalis-yang.control': given('control')}, os.path.join(box, 'opkg'))

    env = {'PATH': '/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin', 'LC_ALL': 'C', 'TOOL_ARGV0': 'cfgmigrate'}
    env.update({k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')})
    tool = config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []
    if os.path.exists(os.path.join(case, 'fault')):
        env['CFGMIGRATE_FAULT'] = given('fault').decode().strip()
        if tool:  # the emulator takes the preload for the tool alone
            tool += ['-E', 'LD_PRELOAD=' + config['faults']]
        else:
            env['TOOL_PRELOAD'] = config['faults']
    args = given('args', b'').decode().splitlines()

    log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    log_path = f'/proc/self/fd/{os.open(box, os.O_RDONLY)}/log'  # deep trees overflow sun_path
    log.bind(log_path)
    lines = []
    reader = threading.Thread(target=receive, args=(log, lines))
    reader.start()
    try:
        done = subprocess.run(prefix + ['bash', SANDBOX, box] + tool + [config['tool']] + args, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    finally:
        socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM).sendto(b'', log_path)
        reader.join()
    return values, before, {'status': b'%d\n' % done.returncode, 'stdout': done.stdout, 'stderr': done.stderr,
                            'console': read(os.path.join(box, 'console'), b''), 'syslog': b''.join(lines)}


def describe(content):
    if content is None:
        return 'absent'
    return 'link to ' + content[1].decode(errors='replace') if isinstance(content, tuple) else f'{len(content)} bytes'


def difference(name, expected, actual):
    if expected == actual:
        return ''
    if isinstance(expected, tuple) or isinstance(actual, tuple) or len(expected or actual) > 1 << 18:
        return f'--- expected/{name}: {describe(expected)}\n+++ actual/{name}: {describe(actual)}\n'
    lines = lambda data: (data or b'').decode(errors='replace').splitlines(keepends=True)
    return ''.join(difflib.unified_diff(lines(expected), lines(actual), f'expected/{name}', f'actual/{name}'))


def check(config, case, box, prefix):
    """The differences from what the case expects, and why the sandbox failed, if it did."""
    values, expected, streams = run(config, case, box, prefix)
    if streams['status'] == b'125\n' and streams['stderr'].startswith(b'sandbox:'):
        return '', streams['stderr'].decode(errors='replace').strip()
    report = ''
    for name, actual in streams.items():
        if name in ('console', 'syslog'):
            actual = re.sub(rb'cfgmigrate\(\d+\): ', b'cfgmigrate(N): ', actual)
        report += difference(name, fill(read(os.path.join(case, name), b'0\n' if name == 'status' else b''),
                                         values), actual)
    expected.update({name: fill(data, values) for name, data in snapshot(os.path.join(case, 'after')).items()})
    if os.path.exists(os.path.join(case, 'expected.xml')):
        expected['output.xml'] = fill(read(os.path.join(case, 'expected.xml')), values)
    actual = snapshot(os.path.join(box, 'root'))
    for name in sorted(set(expected) | set(actual)):
        report += difference(name, expected.get(name), actual.get(name))
    return report, None


def main():
    with open(sys.argv[1]) as f:
        config = json.load(f)
    mode, target = sys.argv[2:4] if sys.argv[2].startswith('--') else ('', sys.argv[2])
    box = os.path.join(config['boxes'], os.path.basename(target.rstrip('/')))
    prefix, why = namespace_prefix()
    if not why and mode == '--exec':
        shutil.rmtree(box, ignore_errors=True)
        return subprocess.run(prefix + ['bash', SANDBOX, box] + config['emulator'] + sys.argv[3:]).returncode
    if not why and mode == '--show':
        streams = run(config, target, box, prefix)[2]
        for name in ('console', 'syslog', 'stdout', 'stderr'):
            print(f'== {name}\n{streams[name].decode(errors="replace")}', end='')
        tmp = snapshot(os.path.join(box, 'root', 'tmp'))
        print('== /tmp\n' + ''.join(f'{name} ({describe(content)})\n' for name, content in tmp.items()), end='')
        return print(f'== exit status {streams["status"].decode()}', end='')
    report, why = (None, why) if why else check(config, target, box, prefix)
    if why:
        print(f'no sandbox: {why}')
        return 1 if os.environ.get('CI') == 'true' else 77
    if report:
        print(report)
        return 1
    if not os.environ.get('SANDBOX_KEEP'):
        shutil.rmtree(box)
    return 0


if __name__ == '__main__':
    sys.exit(main())
