#!/usr/bin/python3
"""The window as a person with a screen reader uses it, on a first start.

The real program on Xvfb, its controls found and driven through the
accessibility bus (AT-SPI), keys typed as real input (XTEST), a
StatusNotifierWatcher on a private session bus as the desktop's tray, and the
development KIV server:

- the welcome box opens and is left open; the e-mail and password typed on
  the account page and Submit still give "Login accepted";
- a folder added and one removed from the terminal (through the running
  copy) are seen on the Music Folders page;
- Search All Now sends the tracks to the server;
- Hide, then a click on the tray icon (StatusNotifierItem Activate) opens
  the window again on the Activity Monitor page;
- every control of the three pages and of the database tester has a name.

usage: window_road_test.py VORNIC MAKE_TEST_MEDIA
Exits 77 (skipped) when Xvfb, xdotool, dbus-daemon or pyatspi is missing.
"""
import importlib
import importlib.util
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
USER, PASSWORD = "ann@example.org", "secret"
TRACKS = 3

for tool in ("Xvfb", "xdotool", "dbus-daemon"):
    if not shutil.which(tool):
        print(f"skipped: {tool} is not installed")
        sys.exit(77)
try:
    import gi

    gi.require_version("Atspi", "2.0")
    import dbus  # noqa: F401 (the watcher needs it)
except (ImportError, ValueError) as error:
    print(f"skipped: {error}")
    sys.exit(77)
if importlib.util.find_spec("pyatspi") is None:
    print("skipped: python3-pyatspi is not installed")
    sys.exit(77)
pyatspi = None  # imported once the private session bus is up

vornic, make_media = sys.argv[1], sys.argv[2]
tmp = tempfile.mkdtemp(prefix="vornic-a11y-")
procs = []


dump_tree = None  # prints the program's accessible tree once it is found
display_server = None  # this test's Xvfb


def fail(message):
    print(f"FAIL: {message}", file=sys.stderr)
    if display_server is not None and display_server.poll() is not None:
        print(f"Xvfb ended with status {display_server.returncode}", file=sys.stderr)
    if dump_tree:
        try:
            dump_tree()
        except Exception:  # the program is gone
            pass
    for name in ("vornic.err", "sni-items", "xvfb.log"):
        if os.path.exists(os.path.join(tmp, name)):
            with open(os.path.join(tmp, name), errors="replace") as f:
                sys.stderr.write(f"--- {name}\n" + "".join(f.readlines()[-15:]))
    log = os.path.join(tmp, "data/kiv/kivclient.log")
    if os.path.exists(log):
        with open(log, errors="replace") as f:
            sys.stderr.write("".join(f.readlines()[-30:]))
    raise SystemExit(1)


def wait_for(what, check, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.1)
    fail(f"timed out waiting for {what}")


def start(args, **kwargs):
    proc = subprocess.Popen(args, **kwargs)
    procs.append(proc)
    return proc


# A private world: home, settings, X display, session bus.
env = os.environ.copy()
for name, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                  ("XDG_RUNTIME_DIR", "runtime")):
    env[name] = os.path.join(tmp, sub)
    os.makedirs(env[name], mode=0o700, exist_ok=True)
os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "kiv"), exist_ok=True)
for name in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"):
    env.pop(name, None)
env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
env["NO_AT_BRIDGE"] = "0"


def start_display():
    """Starts Xvfb on a free display; returns the display's name once a
    client can connect to it."""
    global display_server
    for attempt in range(3):
        log = open(os.path.join(tmp, "xvfb.log"), "a")
        read_fd, write_fd = os.pipe()
        xvfb = start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                      "-nolisten", "tcp"], pass_fds=(write_fd,), stdout=log, stderr=log)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            display = ":" + f.readline().strip()
        probe = subprocess.run(["xdotool", "getdisplaygeometry"], env={**env, "DISPLAY": display},
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if display != ":" and probe.returncode == 0 and xvfb.poll() is None:
            display_server = xvfb
            return display
        print(f"Xvfb attempt {attempt + 1}: display {display} did not answer", file=sys.stderr)
        xvfb.kill()
        xvfb.wait()
    fail("Xvfb did not start")


def start_program():
    """Starts `vornic --show`. Xvfb servers of other tests start and stop at
    the same time; when the program still finds no display, the reason is
    printed and the program gets a new display once."""
    for attempt in range(2):
        err = os.path.join(tmp, "vornic.err")
        program = start([vornic, "--show"], env=env, stdout=subprocess.DEVNULL,
                        stderr=open(err, "w"))
        try:
            program.wait(3)
        except subprocess.TimeoutExpired:
            return program
        with open(err, errors="replace") as f:
            if attempt > 0 or "could not connect to display" not in f.read():
                return program
        alive = "running" if display_server.poll() is None else f"gone ({display_server.returncode})"
        print(f"vornic found no display {env['DISPLAY']}; its Xvfb is {alive}", file=sys.stderr)
        display_server.kill()
        env["DISPLAY"] = os.environ["DISPLAY"] = start_display()
    return program


def run():
    env["DISPLAY"] = start_display()
    bus = start(["dbus-daemon", "--session", "--nofork", "--print-address=1"], env=env,
                stdout=subprocess.PIPE, text=True)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    os.environ.update({k: env[k] for k in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS")})
    global pyatspi
    pyatspi = importlib.import_module("pyatspi")
    items = os.path.join(tmp, "sni-items")
    watcher = start([sys.executable, os.path.join(ROOT, "tests/ui/sni_watcher.py"), items],
                    env=env, stdout=subprocess.PIPE, text=True)
    if watcher.stdout.readline().strip() != "ready":
        fail("the StatusNotifierWatcher did not start")

    # The development server, a music folder of tagged files, and settings of
    # a first start: no credentials, the welcome not shown yet.
    port_file = os.path.join(tmp, "port")
    record = os.path.join(tmp, "record")
    start([sys.executable, os.path.join(ROOT, "tools/kiv-devserver"), "--port", "0",
           "--port-file", port_file, "--account", f"{USER}:{PASSWORD}", "--record", record],
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_for("the development server", lambda: os.path.exists(port_file) and
             os.path.getsize(port_file) > 0)
    with open(port_file) as f:
        url = f"http://127.0.0.1:{f.read().strip()}/kiv_backend/api"
    music, jazz = os.path.join(tmp, "music"), os.path.join(tmp, "jazz")
    os.makedirs(music)
    os.makedirs(jazz)
    for i in range(1, TRACKS + 1):
        subprocess.run([make_media, "--size", "150000", "--title", f"Song {i}", "--artist",
                        "Harbour Lights", "--album", "Collected", "--track", str(i),
                        os.path.join(music, f"{i:02d}.mp3")], check=True)
    registry = os.path.join(env["XDG_CONFIG_HOME"], "kiv/registry.reg")
    with open(registry, "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]\n"
                f'"ServerUrl"="{url}"\n\n'
                "[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\SearchPaths]\n"
                f'"path0"="{music}"\n"enable0"=dword:00000001\n')
    os.chmod(registry, 0o600)

    program = start_program()

    def app():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and child.name == "Vornic":
                return child
        return None

    vornic_app = wait_for("Vornic on the accessibility bus", app)
    global dump_tree
    dump_tree = lambda: [print("  " * d + f"{n.getRoleName()} {n.name!r} "
                               f"{[pyatspi.stateToString(x) for x in n.getState().getStates()]}",
                               file=sys.stderr)
                         for n, d in walk_depth(vornic_app)]

    def walk_depth(node, depth=0):
        if node is None or depth > 6:
            return
        yield node, depth
        for i in range(node.childCount):
            yield from walk_depth(node.getChildAtIndex(i), depth + 1)

    def walk(node, depth=0):
        if node is None or depth > 40:
            return
        yield node
        for i in range(node.childCount):
            yield from walk(node.getChildAtIndex(i), depth + 1)

    def find(role, name=None, root=None, contains=None):
        for node in walk(root or vornic_app):
            if node.getRole() != role:
                continue
            if name is not None and node.name != name:
                continue
            if contains is not None and contains not in text_of(node):
                continue
            return node
        return None

    def text_of(node):
        try:
            text = node.queryText()
            return text.getText(0, text.characterCount)
        except NotImplementedError:
            return node.name or ""

    def showing(node):
        return node.getState().contains(pyatspi.STATE_SHOWING)

    def press(node):
        node.queryAction().doAction(0)

    def main_window():
        for i in range(vornic_app.childCount):
            child = vornic_app.getChildAtIndex(i)
            if child.name == "Vornic" and find(pyatspi.ROLE_PAGE_TAB_LIST, root=child):
                return child
        return None

    main = wait_for("the main window", main_window)
    welcome = wait_for("the welcome box", lambda: find(pyatspi.ROLE_LABEL,
                                                        contains="Welcome to the Vornic!"))

    # The main window gets the keys; the box stays open all the while.
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(program.pid)],
                         capture_output=True, text=True).stdout.split()
    largest = max(ids, key=lambda w: int(subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", w], capture_output=True,
        text=True).stdout.split("WIDTH=")[1].split()[0]))
    subprocess.run(["xdotool", "windowfocus", "--sync", largest], check=False)

    def type_into(name, text):
        box = wait_for(f"the {name} box", lambda: find(pyatspi.ROLE_TEXT, name, main) or
                       find(pyatspi.ROLE_PASSWORD_TEXT, name, main))
        box.queryComponent().grabFocus()
        wait_for(f"focus in the {name} box",
                 lambda: box.getState().contains(pyatspi.STATE_FOCUSED), 5)
        subprocess.run(["xdotool", "key", "ctrl+a", "BackSpace"], check=True)
        subprocess.run(["xdotool", "type", "--delay", "5", text], check=True)

    type_into("Email", USER)
    type_into("Password", PASSWORD)
    submit = find(pyatspi.ROLE_PUSH_BUTTON, "Submit", main)
    wait_for("Submit enabled", lambda: submit.getState().contains(pyatspi.STATE_ENABLED), 5)
    press(submit)
    wait_for("Login accepted", lambda: find(pyatspi.ROLE_LABEL, "Login accepted", main), 30)
    if find(pyatspi.ROLE_LABEL, contains="Welcome to the Vornic!") is None:
        fail("the welcome box went away by itself")
    del welcome

    # The Music Folders page follows changes made from the terminal.
    tabs = find(pyatspi.ROLE_PAGE_TAB_LIST, root=main)

    def select_page(index, title):
        press(tabs.getChildAtIndex(index))
        # The tab list is named after the page it shows.
        wait_for(f"the {title} page", lambda: tabs.name == title, 5)

    def cli(*args):
        done = subprocess.run([vornic, *args], env=env, capture_output=True, text=True)
        if done.returncode != 0:
            fail(f"vornic {' '.join(args)}: {done.stdout}{done.stderr}")

    def listed():
        folders = find(pyatspi.ROLE_LIST, "Music folders", main)
        if folders is None:
            return None
        return sorted(c.name for c in walk(folders) if c.getRole() in
                      (pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_CHECK_BOX))

    select_page(1, "Music Folders")
    wait_for("the stored folder listed", lambda: listed() == [music], 10)
    cli("--add-folder", jazz)
    wait_for("the added folder on the page", lambda: listed() == sorted([music, jazz]), 10)
    cli("--remove-folder", jazz)
    wait_for("the removed folder gone from the page", lambda: listed() == [music], 10)

    # Search All Now sends the tracks.
    press(find(pyatspi.ROLE_PUSH_BUTTON, "Search All Now", main))
    report = os.path.join(ROOT, "tools/kiv-devserver-report")

    def sent():
        done = subprocess.run([sys.executable, report, "--tracks", record], capture_output=True,
                              text=True)
        return done.returncode == 0 and int(done.stdout.strip() or 0) >= TRACKS

    wait_for(f"{TRACKS} tracks at the server", sent, 60)

    # Every control of every page, and of the tester, has a name.
    named_roles = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_PASSWORD_TEXT,
                   pyatspi.ROLE_ENTRY, pyatspi.ROLE_LIST, pyatspi.ROLE_TREE,
                   pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_PROGRESS_BAR, pyatspi.ROLE_CHECK_BOX,
                   pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_TABLE}
    checked = []

    def check_names(root, where):
        for node in walk(root):
            if node.getRole() in named_roles:
                if not (node.name or "").strip():
                    fail(f"{where}: a {node.getRoleName()} without a name")
                checked.append(node.getRoleName())

    check_names(main, "the main window and its pages")
    subprocess.run(["xdotool", "windowfocus", "--sync", largest], check=False)
    subprocess.run(["xdotool", "key", "ctrl+shift+d"], check=True)
    tester = wait_for("the database tester", lambda: find(pyatspi.ROLE_DIALOG, "Vornic Tester"))
    check_names(tester, "Vornic Tester")
    press(find(pyatspi.ROLE_PUSH_BUTTON, "Close", tester))

    # Hide, then one click on the tray icon as a StatusNotifierItem host
    # reports it.
    press(find(pyatspi.ROLE_PUSH_BUTTON, "Hide", main))
    wait_for("the window hidden", lambda: not showing(main), 10)
    with open(items) as f:
        item = f.readline().strip()
    if not item:
        fail("no StatusNotifierItem registered")
    subprocess.run(["dbus-send", "--session", "--type=method_call", f"--dest={item}",
                    "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate", "int32:10",
                    "int32:10"], env=env, check=True)
    wait_for("the window shown by a click on the icon", lambda: showing(main), 10)
    wait_for("the Activity Monitor page", lambda: tabs.name == "Activity Monitor", 5)

    program.send_signal(signal.SIGTERM)
    if program.wait(30) != 0:
        fail(f"vornic exited with {program.returncode}")
    print(f"ok: signed in with the welcome box open, folders followed, {TRACKS} tracks sent, "
          f"icon click opened the window, {len(checked)} controls named")


try:
    run()
finally:
    for proc in reversed(procs):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
    shutil.rmtree(tmp, ignore_errors=True)
