#!/usr/bin/env python3
# The companion's runs cut by a power failure, in the sandbox of `run_case.py CONFIG --exec
# crash_states crash_states.py CONFIG`. Each flow of case folders runs once under strace; its file
# operations, replayed over the case's files, give every state a cut can leave on disk under each
# file-system model below. In each state the documents must be whole (each name as before the run
# or as after it); booted with the same command, the state must end exactly as the case does, with
# status 0 and no two names on one file (a stray name a later run would write through).
import fnmatch, json, os, re, subprocess, sys

from run_case import Case, companion, materialize, snapshot

config = json.load(open(sys.argv[1]))
tool = (config['emulator'] + ['-0', 'cfgmigrate'] if config['emulator'] else []) + [config['tool']]
env = {'PATH': os.environ['PATH']} | {k: v for k, v in os.environ.items() if k.endswith('SAN_OPTIONS')}
apply = companion(config, '..', tool, env)
FLOWS = [['apply-first-migration'], ['apply-downgrade-one-way', 'apply-upgrade-after-downgrade']]
STRACE = ['strace', '-f', '-qq', '-y', '-xx', '-s', '1000000000', '-e', 'signal=none', '-o', '../trace', '-e',
          'trace=open,openat,creat,write,writev,pwrite64,sendfile,copy_file_range,splice,rename,renameat,'
          'renameat2,link,linkat,unlink,unlinkat,truncate,ftruncate,fsync,fdatasync,sync,syncfs']
NAMED, BARRIERS = ('creat', 'rename', 'link', 'unlink'), ('fsync', 'dsync', 'sync')


# A path as a name of the working folder ('.' itself), None outside it or in its tmp/.
def name(path):
    rel = os.path.relpath(os.fsdecode(path))
    return None if rel.split('/')[0] in ('..', 'tmp') else rel


# An operation: (KIND, NAME, NAME, INODE, ARGUMENT), on names (name -> inode) and inodes' data.
# creat NAME of a new INODE; write (OFFSET, BYTES) and trunc SIZE of INODE; rename and link FROM TO
# of INODE, True when TO named a file; unlink NAME of INODE; fsync INODE, dsync (the folder), sync.
def apply_op(names, data, op):
    kind, a, b, ino, arg = op
    if kind == 'creat':
        names[a], data[ino] = ino, b''
    if kind == 'write':
        data[ino] = data[ino][:arg[0]].ljust(arg[0], b'\0') + arg[1] + data[ino][arg[0] + len(arg[1]):]
    if kind == 'trunc':
        data[ino] = data[ino][:arg].ljust(arg, b'\0')
    if kind in ('rename', 'link'):
        names[b] = names[a]
    if kind in ('rename', 'unlink'):
        del names[a]


# The operations on the working folder in strace's log, applied to names and data as they go, each
# with a label.
def operations(log, names, data):
    ops, pending = [], {}
    unhex = lambda text: bytes.fromhex(text.replace('\\x', ''))
    for pid, rest in (line.split(None, 1) for line in log.splitlines()):
        if rest.endswith(' <unfinished ...>'):
            pending[pid] = rest[:-17]
            continue
        rest = pending.pop(pid) + rest.split('>', 1)[1] if rest.startswith('<... ') else rest
        call, args, ret, opened = re.fullmatch(r'(\w+)\((.*)\) += (-?\d+)(?:<(.*)>| .*)?', rest).groups()
        strings = [unhex(s) for s in re.findall(r'"([^"]*)"', args)]
        paths = [name(s) for s in strings] if call != 'write' else []
        fds = [name(unhex(p)) for p in re.findall(r'(?:\d+|AT_FDCWD)<([^>]*)>', args)]
        ino, size, op = names.get(fds[0]) if fds else None, int(ret), None
        if size < 0 or size == 0 and call in ('write', 'sendfile'):
            continue
        if call in ('open', 'openat', 'creat'):
            path, truncates = name(unhex(opened)), call == 'creat' or 'O_TRUNC' in args
            if path and path not in names and (call == 'creat' or 'O_CREAT' in args):
                op = ('creat', path, None, max(data, default=0) + 1, None)
            elif path in names and truncates and data[names[path]]:
                op = ('trunc', None, None, names[path], 0)
        elif call in ('write', 'sendfile') and ino:
            # cp and cat send a file from its start into a new one: the offset is the output's size.
            end = len(data[ino])
            op = ('write', None, None, ino, (end, strings[0][:size] if strings else data[names[fds[1]]][end:end + size]))
        elif call.startswith(('rename', 'unlink')) and paths[0] in names:
            to = paths[1] if call[0] == 'r' else None
            op = (call[:6], paths[0], to, names[paths[0]], to in names)
        elif call in ('fsync', 'fdatasync') and (ino or fds[0] == '.'):
            op = ('fsync' if ino else 'dsync', None, None, ino, None)
        elif call in ('sync', 'syncfs'):
            op = ('sync', None, None, None, None)
        elif ino or set(paths) & set(names):
            sys.exit(f'crash_states: no model for {rest[:300]}')
        if op:
            ops.append((op, f"{op[0]} {' '.join(p for p in fds + paths if p not in (None, '.'))}"))
            apply_op(names, data, op)
    return ops


# The models: each gives the operations as the file system persists them and, for each, the
# earlier ones that persist whenever it does.
def in_order(ops):  # a log: any prefix
    return ops, [{j - 1} - {-1} for j in range(len(ops))]


def link_then_unlink(ops):  # JFFS2: a rename writes the new name, then removes the old one
    return in_order([part for op, label, step in ops for part in (
        [(('link',) + op[1:], label + ' (new name written)', step),
         (('unlink', op[1], None, op[3], None), label + ' (old name removed)', step)]
        if op[0] == 'rename' else [(op, label, step)])])


# Weak POSIX: a file's fsync keeps its data, the folder's its names, sync everything; a name's
# operations in order and a file's data after its creation, nothing else ordered. ext4
# data=ordered with auto_da_alloc besides: names and sizes in order in the journal, which any fsync
# commits; a file's data in order, and a rename over another file writes the renamed file's data first.
def dependencies(ops, weak):
    needs = []
    for j, ((kind, a, b, ino, arg), *_) in enumerate(ops):
        find = lambda test: {i for i in range(j) if test(*ops[i][0])}
        data_of = lambda k, x, y, n, _: k in ('write', 'trunc') and n == ino
        journal = lambda k, *_: k in NAMED + ('trunc',)
        if kind == 'sync':
            need = set(range(j))
        elif kind == 'dsync':
            need = find(lambda k, *_: k in NAMED)
        elif kind == 'fsync':
            need = find(data_of) | (set() if weak else find(journal))
        elif kind in ('write', 'trunc'):
            need = find(lambda k, x, y, n, _: k == 'creat' and n == ino)
        else:
            need = {max(find(lambda k, x, y, *_: path in (x, y)), default=-1) for path in (a, b) if path} - {-1}
        if not weak:
            need |= set(sorted(find(journal))[-1:]) if journal(kind) else set()
            need |= set(sorted(find(data_of))[-1:]) if kind == 'write' else set()
            need |= find(data_of) if kind == 'rename' and arg else set()
        needs.append(need)
    return ops, needs


MODELS = {'ext4 data=ordered,auto_da_alloc': lambda ops: dependencies(ops, False),
          'weak POSIX': lambda ops: dependencies(ops, True),
          'in-order log': in_order, 'rename as link then unlink (JFFS2)': link_then_unlink}


# Each set of operations that a cut before operation k leaves persisted, as (k, set): a barrier
# issued before it persisted with all it needs; any other operation may have, once its needs did.
def cuts(ops, needs):
    for k in range(len(ops) + 1):
        forced = set()
        for j in reversed(range(k)):
            forced |= {j} | needs[j] if ops[j][0][0] in BARRIERS or j in forced else set()
        sets = [frozenset()]
        for j in range(k):
            sets = [s | {j} for s in sets if needs[j] <= s] + ([] if j in forced else sets)
        yield from ((k, s) for s in sets)


# The state in the working folder, an inode's further names hard links; in /tmp no images.
def lay(names, data):
    for entry in [*os.scandir('.'), *(e for e in os.scandir('tmp') if fnmatch.fnmatch(e.name, os.path.basename(config['images'])))]:
        os.remove(entry.path) if entry.name != 'tmp' else None
    first = {}
    for path, ino in sorted(names.items()):
        os.link(first[ino], path) if ino in first else materialize({path: data[ino]}, '.')
        first.setdefault(ino, path)


# What is wrong with a state a cut left during a step, and with its boot.
def check(step, names, data):
    line, before, after = step
    wrong = [f'{path} torn' for path in sorted(set(before) | set(after))
             if (data[names[path]] if path in names else None) not in (before.get(path), after.get(path))]
    lay(names, data)
    done = subprocess.run(line, env=env, capture_output=True)
    left = snapshot('.', './tmp')
    said = done.stderr.decode().strip().rpartition('\n')[2]
    wrong += [f'the boot exits {done.returncode} ({said})'] * bool(done.returncode)
    wrong += [f'then {path} ' + ('is left' if path not in after else 'is gone' if path not in left else
                                 f'holds {left[path]!r}' if len(left[path]) < 60 else f'differs ({len(left[path])} bytes)')
              for path in sorted(set(left) | set(after)) if left.get(path) != after.get(path)]
    shared = [path for path in left if os.lstat(path).st_nlink > 1]
    return wrong + [f'then {" and ".join(shared)} are one file'] * bool(shared)


results, boots = {model: (set(), []) for model in MODELS}, {}
for flow in FLOWS:
    steps = []
    for folder in flow:
        case = Case(config, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'cases', folder), '..')
        before = case.files('files', 'input.xml', 'input.xml', 'links')
        after = before | case.files('after', 'expected.xml', 'output.xml', 'after-links')
        steps.append((apply + case.command()[1], before, after))
    names = {path: ino for ino, path in enumerate(steps[0][1], 1)}
    data = {ino: steps[0][1][path] for path, ino in names.items()}
    start, ops = (dict(names), dict(data)), []
    lay(names, data)
    for number, (line, before, after) in enumerate(steps):
        # LeakSanitizer cannot run under ptrace.
        traced = env | {'ASAN_OPTIONS': env.get('ASAN_OPTIONS', '') + ':detect_leaks=0'}
        done = subprocess.run(STRACE + line, env=traced, capture_output=True)
        if done.returncode or snapshot('.', './tmp') != after:
            sys.exit(f'crash_states: {flow[number]} under strace does not do what the case does: {done.stderr}')
        ops += [(op, label, number) for op, label in operations(open('../trace').read(), names, data)]
        if {path: data[ino] for path, ino in names.items()} != after:
            sys.exit(f'crash_states: the operations traced of {flow[number]} do not make what it does')
    for model, persist in MODELS.items():
        model_ops, needs = persist(ops)
        seen, wrong = results[model]
        for k, persisted in cuts(model_ops, needs):
            names, data = dict(start[0]), dict(start[1])
            for j in sorted(persisted):
                apply_op(names, data, model_ops[j][0])
            step = model_ops[k - 1][2] if k else 0
            state = (flow[step], frozenset((path, min(n for n in names if names[n] == ino), data[ino])
                                           for path, ino in names.items()))
            if state in seen:
                continue
            seen.add(state)
            if state not in boots:
                boots[state] = check(steps[step], names, data)
            if boots[state]:
                lost = [f'[{j}] {model_ops[j][1]}' for j in range(k) if j not in persisted]
                shared = {' and '.join(sorted(n for n in names if names[n] == ino)) for ino in names.values()}
                wrong.append(f'  {flow[step]}: cut after [{k - 1}] {model_ops[k - 1][1] if k else "nothing"}'
                             + (f', {", ".join(lost)} not persisted' if lost else '')
                             + ''.join(f', leaving {group} one file' for group in shared if ' and ' in group)
                             + ': ' + '; '.join(boots[state]))
total, violations = (sum(len(result[i]) for result in results.values()) for i in (0, 1))
print(f'{total} states under {len(MODELS)} models: {violations} violations ({len(boots)} states booted; '
      f'flows {", ".join(" then ".join(flow) for flow in FLOWS)})')
for model, (seen, wrong) in results.items():
    print(f'{model}: {len(seen)} states, {len(wrong)} violations', *wrong, sep='\n')
sys.exit(1 if violations or not total else 0)
