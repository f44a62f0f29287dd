"""save_runs.py CONFIG: what no one case folder shows of the save (kills during it, runs at once sharing
/tmp, file modes and owners, a FIFO, a redirected standard output), run in the sandbox like the cases."""
import base64, contextlib, fcntl, json, os, random, re, shutil, stat, subprocess, sys, time
from run_case import SANDBOX, materialize, namespace_prefix, read
failures, check = [], lambda ok, what: print(('ok: ' if ok else 'FAILED: ') + what) or failures.extend([] if ok else [what])
temps = lambda: set(os.listdir('cfg')) - {'config.xml'}

def killed_saves(run):
    old = b'<config>%s</config>\n' % b''.join(b'<rule><name>r%d</name><port>%d</port></rule>' % (i, i) for i in range(40000))
    save, seen, whole = run + ['cfg/config.xml', 'cfg/config.xml'], set(), 0
    for kill in range(21):  # the first save is not killed: it times the save from its temporary file on
        materialize({'cfg/config.xml': old}, '.')
        child = subprocess.Popen(save)
        while child.poll() is None and not temps() - seen:
            pass
        started = time.monotonic()
        if kill:
            time.sleep(random.uniform(0, 1.25) * window)  # past the rename too
            child.kill()
        child.wait()
        window, new = (window, new) if kill else (time.monotonic() - started, read('cfg/config.xml'))
        whole, seen = whole + (read('cfg/config.xml') in (old, new)), seen | temps()  # temps: kills inside the save
    check(whole == 21 and seen, f'old or new file whole after {whole} of 21 runs, 20 killed, {len(seen)} inside the save')
    fcntl.flock(held := open('cfg/.config.xml.cfgmigrate-locked', 'w'), fcntl.LOCK_EX)  # as a save still writing does
    check(subprocess.run(save).returncode == 0 and read('cfg/config.xml') == new and temps() == {held.name[4:]},
          'the next save removes what killed runs left, not a locked file')

def attributes(run):
    materialize({'m.xml': b'<config><a>1</a></config>\n'}, '.')
    with contextlib.suppress(OSError):  # only the real root gives files away
        os.chown('m.xml', 1234, 5678)
    os.chmod('m.xml', 0o2750)  # after chown, which clears set-id bits
    save = lambda out, **options: subprocess.run(run + ['m.xml', out], **options).returncode == 0
    before, after = os.stat('m.xml'), save('m.xml') and os.stat('m.xml')
    check(after.st_ino != before.st_ino and (after.st_mode, after.st_uid, after.st_gid) == (before.st_mode, before.st_uid,
          before.st_gid), f'replaced, mode {stat.S_IMODE(before.st_mode):o} and owner {before.st_uid}:{before.st_gid} kept')
    os.umask(0o027)
    check(save('new.xml') and stat.S_IMODE(os.stat('new.xml').st_mode) == 0o640, 'a new file gets 0666 less the umask')
    with open('out.txt', 'wb') as out:
        check(save('/dev/stdout', stdout=out) and os.stat('out.txt').st_ino == os.fstat(out.fileno()).st_ino and
              read('out.txt') == read('m.xml'), 'standard output redirected to a file is written in place')
    fifo = os.mkfifo('pipe') or os.open('pipe', os.O_RDWR | os.O_NONBLOCK)  # neither the tool nor the test blocks on it
    check(save('pipe') and os.read(fifo, 1 << 16) == read('m.xml') and stat.S_ISFIFO(os.lstat('pipe').st_mode),
          'a FIFO is written directly')

def shared_tmp(tool, vendor):
    images = [[random.randbytes(60000) for _ in range(6)] for _ in range(4)]  # background and logo of 3 profiles
    portal = vendor.encode() + b'/ns/orvalis/captive-portal'
    for r, p in enumerate(images):
        ux = b''.join(b'<portal-profile><portal-ux><background><content>%s</content></background><logo><content>%s</content>'
                      b'</logo></portal-ux></portal-profile>' % (p[i].hex().encode(), p[i + 1].hex().encode()) for i in (0, 2, 4))
        materialize({f'r{r}/in.xml': b'<config><portal-profiles xmlns="%s">%s</portal-profiles></config>' % (portal, ux)}, '.')
    rounds = ([subprocess.Popen(tool + ['v1.4.04', 'v1.4.05', f'r{r}/in.xml', f'r{r}/out.xml']) for r in range(4)] for _ in range(20))
    right = sum(child.wait() == 0 and re.findall(rb'<content>(.*?)</content>', read(f'r{r}/out.xml')) ==
                [base64.b64encode(image) for image in images[r]] for runs in rounds for r, child in enumerate(runs))
    check(right == 80, f'4 runs at once sharing /tmp, 20 rounds: {right} of 80 saved their own images')

config = json.load(open(sys.argv[1]))
tool, same = config['emulator'] + [config['tool']], ['v1.4.09', 'v1.4.09']
if sys.argv[2:] == ['--inside']:
    killed_saves(tool + same), attributes(tool + same), shared_tmp(tool, config['vendor'])
    sys.exit(1 if failures else 0)
prefix, why = namespace_prefix()
shutil.rmtree(box := os.path.join(config['boxes'], 'save_runs'), ignore_errors=True)
inside = [sys.executable, os.path.abspath(__file__), os.path.abspath(sys.argv[1]), '--inside']
status = 125 if why else subprocess.run(prefix + ['bash', SANDBOX, box] + inside).returncode
if status == 125:  # no sandbox: a skip, as for the cases, but a failure in CI
    status = print(f'no sandbox: {why or "see above"}') or (1 if os.environ.get('CI') == 'true' else 77)
sys.exit(status)
