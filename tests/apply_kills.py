#!/usr/bin/env python3
# The companion stopped as a power cut stops it, then run again, in the
# sandbox of `run_case.py CONFIG --exec apply_kills apply_kills.py CONFIG`:
# killed with its process group at each command it runs (a shim on its PATH
# counts them) and at each write, fsync and rename of the tool it starts
# (kill:N of faults.cc). The run after each kill must leave what the case
# folder's run leaves: the document migrated once, its record, the kept
# documents, nothing in /tmp.
import json, os, shutil, subprocess, sys

from run_case import Case, companion, materialize, snapshot

config = json.load(open(sys.argv[1]))
tool = (config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []) + [config['tool']]
env = {'PATH': os.environ['PATH'], 'COUNT': os.path.abspath('count'), 'REAL': os.path.abspath('bin')} | {
    k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')}
env |= {'QEMU_SET_ENV': 'LD_PRELOAD=' + config['faults']} if config['emulator'] else {'TOOL_PRELOAD': config['faults']}
command = companion(config, '.', tool, env)
# Commands of a pipeline run at once: each takes its number under a lock.
materialize({'shim': b'#!/bin/sh\n{ /usr/bin/flock 9; read n <"$COUNT"; n=$((n + 1)); echo $n >"$COUNT"; } 9<"$COUNT"\n'
                     b'[ $n != "${KILL_AT-}" ] || kill -KILL 0\nexec "$REAL/${0##*/}" "$@"\n'}, '.')
os.chmod('shim', 0o755)
os.makedirs('shims')
for name in os.listdir('bin'):
    os.symlink(os.path.abspath('shim'), os.path.join('shims', name))
command[2] = 'PATH=' + os.path.abspath('shims')

tried, wrong = 0, []
for name in ('apply-first-migration', 'apply-downgrade-one-way', 'apply-upgrade-after-downgrade'):
    case = Case(config, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'cases', name), 'box')
    before = case.files('files', 'input.xml', 'input.xml')
    after = before | case.files('after', 'expected.xml', 'output.xml')
    run = command + case.file('args').decode().split()
    for kill in ({'KILL_AT': '%d'}, {'CFGMIGRATE_FAULT': 'kill:%d'}):
        for n in range(1, 1000):
            shutil.rmtree('work', ignore_errors=True)
            materialize(before, 'work')
            materialize({'count': b'0\n'}, '.')
            killed = subprocess.run(run, cwd='work', env=env | {k: v % n for k, v in kill.items()}, start_new_session=True,
                                    capture_output=True).returncode
            again = subprocess.run(run, cwd='work', env=env, capture_output=True)
            left = (killed, again.returncode, snapshot('work') == after, [name for name in os.listdir('/tmp') if name.startswith('cpp_')])
            if left[1:] != (0, True, []) or killed not in (0, -9):
                wrong.append(f'{name} {kill} {n}: {left} {again.stderr.decode()}')
            if killed != -9:
                break
            tried += 1
print(f'{tried} kills, then a run again: {len(wrong)} left anything but the document migrated once', *wrong, sep='\n')
sys.exit(1 if wrong or not tried else 0)
