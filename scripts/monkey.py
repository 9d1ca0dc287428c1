#!/usr/bin/env python3
"""Random gestures against the window, for sanitizer builds. Not part of the tests.

    scripts/monkey.py --binary build-asan/src/quillory --fixtures DIR --seed 7 --minutes 5

Starts its own Xvfb, a private HOME whose ALSA "default" device pipes every sample into a
reader that paces it like a sound card and drops it, and the program. Every gesture is
written to OUT/gestures.log before it is sent, so a run can be replayed (--replay FILE,
optionally --upto N) and shrunk. A run stops at the first crash, sanitizer report or hang
(the GUI thread blocked on a lock or busy for long), and keeps the program's output,
a screenshot and, for a hang, every thread's stack.

Under ThreadSanitizer the program needs the Qt lock annotations the TSan test programs link,
or every field guarded by a QMutex is reported:
    g++ -std=c++17 -shared -fPIC -fsanitize=thread $(pkg-config --cflags --libs Qt5Core) \
        tests/common/tsan/QtLockAnnotations.cpp -ldl -o /tmp/qtlockann.so
    scripts/monkey.py --binary build-tsan/src/quillory ... \
        --tsan-options "suppressions=$PWD/tests/common/tsan/suppressions.txt:ignore_noninstrumented_modules=1" \
        --env LD_PRELOAD="$(gcc -print-file-name=libtsan.so.2) /tmp/qtlockann.so"
"""
import argparse, json, os, random, re, shutil, signal, subprocess, sys, tempfile, time

ASOUNDRC = """pcm.!default { type plug; slave.pcm "capture" }
pcm.capture { type file; slave.pcm "null"; file "|%s"; format "raw" }
"""

# Reads at about the rate of 48 kHz stereo float so playback advances in real time.
DRAIN = """#!/usr/bin/env python3
import sys, time
rate = 48000 * 8
start = time.monotonic(); got = 0
while True:
    b = sys.stdin.buffer.read(16384)
    if not b:
        break
    got += len(b)
    ahead = got / rate - (time.monotonic() - start)
    if ahead > 0:
        time.sleep(ahead)
"""

KEYS = ["space", "s", "S", "Delete", "BackSpace", "Left", "Right", "Up", "Down", "Home", "End",
        "ctrl+z", "ctrl+shift+z", "ctrl+c", "ctrl+v", "ctrl+x", "ctrl+a", "Escape", "Return",
        "Tab", "shift+Tab", "e", "ctrl+e", "ctrl+p", "ctrl+j", "ctrl+u", "ctrl+shift+h",
        "Prior", "Next", "plus", "minus", "shift+Left", "shift+Right", "ctrl+Left", "ctrl+Right",
        "alt+f", "alt+e", "alt+s", "F1"] + [str(d) for d in range(10)] + list("qwertyasdfzxcv")


class Monkey:
    def __init__(self, args):
        self.args = args
        self.out = args.out
        os.makedirs(self.out, exist_ok=True)
        self.home = tempfile.mkdtemp(prefix="monkey-home-")
        self.files = os.path.join(self.home, "files")
        shutil.copytree(args.fixtures, self.files)
        drain = os.path.join(self.home, "drain.py")
        with open(drain, "w") as f:
            f.write(DRAIN)
        os.chmod(drain, 0o755)
        with open(os.path.join(self.home, ".asoundrc"), "w") as f:
            f.write(ASOUNDRC % drain)
        n = args.display
        while os.path.exists("/tmp/.X%d-lock" % n):
            n += 1
        self.display = ":%d" % n
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.home,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        ASAN_OPTIONS="detect_leaks=0:abort_on_error=1",
                        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1",
                        QT_QPA_PLATFORM="xcb")
        if args.tsan_options:
            self.env["TSAN_OPTIONS"] = args.tsan_options
        # For instance LD_PRELOAD of the Qt lock annotations the ThreadSanitizer tests link.
        for kv in args.env:
            k, v = kv.split("=", 1)
            self.env[k] = v
        self.log = open(os.path.join(self.out, "gestures.log"), "a")
        self.app = None
        self.starts = 0

    # --- process ------------------------------------------------------------------------
    def start_app(self, path=None):
        self.starts += 1
        cmd = [os.path.abspath(self.args.binary)] + ([path] if path else [])
        self.applog = open(os.path.join(self.out, "app-%d.log" % self.starts), "w")
        self.app = subprocess.Popen(cmd, env=self.env, stdout=self.applog, stderr=subprocess.STDOUT,
                                    cwd=self.files)
        for _ in range(100):
            if self.windows():
                break
            time.sleep(0.2)
        time.sleep(1.0)

    def xdo(self, *a, check=False):
        r = subprocess.run(["xdotool"] + [str(x) for x in a], env=self.env, capture_output=True, text=True, timeout=20)
        return r.stdout

    def windows(self):
        if not self.app:
            return []
        out = self.xdo("search", "--onlyvisible", "--pid", self.app.pid, "")
        ws = []
        for w in out.split():
            g = self.xdo("getwindowgeometry", w)
            m = re.search(r"Position: (-?\d+),(-?\d+).*Geometry: (\d+)x(\d+)", g, re.S)
            if m:
                x, y, wd, ht = map(int, m.groups())
                if wd > 20 and ht > 20:
                    ws.append((int(w), x, y, wd, ht))
        return ws

    def report_text(self):
        self.applog.flush()
        with open(self.applog.name, errors="replace") as f:
            t = f.read()
        for pat in ("ERROR: AddressSanitizer", "runtime error:", "WARNING: ThreadSanitizer", "ASSERT", "Segmentation",
                    "terminate called", "LeakSanitizer"):
            if pat in t:
                return pat
        return None

    def main_thread_state(self):
        try:
            with open("/proc/%d/stat" % self.app.pid) as f:
                st = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%d/wchan" % self.app.pid) as f:
                wchan = f.read()
            return st[0], wchan
        except OSError:
            return None, None

    def hung(self):
        """The GUI thread blocked in a futex or running without pause for ~15 s."""
        bad = 0
        for _ in range(30):
            s, w = self.main_thread_state()
            if s is None:
                return False
            if (s == "S" and "futex" in w) or s == "R":
                bad += 1
            else:
                return False
            time.sleep(0.5)
        return bad >= 30

    # --- gestures -----------------------------------------------------------------------
    def point(self, rnd):
        ws = self.windows()
        if not ws:
            return None
        # Dialogs are on top; aim at them more often than at the window behind.
        w = ws[-1] if (len(ws) > 1 and rnd.random() < 0.6) else rnd.choice(ws)
        wid, x, y, wd, ht = w
        return wid, x + rnd.randrange(wd), y + rnd.randrange(ht)

    def gesture(self, rnd):
        kinds = ["click"] * 8 + ["dclick"] * 2 + ["rclick"] + ["drag"] * 5 + ["wheel"] * 3 + ["key"] * 10 + \
                ["menu"] * 3 + ["open"] * 2 + ["focus"] * 2 + ["wait"] * 2 + ["modclick"] * 2
        k = rnd.choice(kinds)
        g = {"k": k}
        if k in ("click", "dclick", "rclick", "wheel", "modclick", "drag", "focus"):
            p = self.point(rnd)
            if not p:
                return {"k": "wait", "t": 0.3}
            g["w"], g["x"], g["y"] = p
        if k == "drag":
            g["x2"] = max(0, g["x"] + rnd.randint(-500, 500))
            g["y2"] = max(0, g["y"] + rnd.randint(-60, 60))
            g["steps"] = rnd.randint(2, 12)
            g["mod"] = rnd.choice([None, None, None, "shift", "ctrl", "alt"])
            g["keys"] = [rnd.choice(KEYS) for _ in range(rnd.randint(0, 2))] if rnd.random() < 0.2 else []
        elif k == "wheel":
            g["b"] = rnd.choice([4, 5, 6, 7])
            g["n"] = rnd.randint(1, 6)
            g["mod"] = rnd.choice([None, None, "ctrl", "shift"])
        elif k == "modclick":
            g["mod"] = rnd.choice(["shift", "ctrl", "alt"])
        elif k == "key":
            g["keys"] = [rnd.choice(KEYS) for _ in range(rnd.randint(1, 4))]
        elif k == "menu":
            g["i"] = rnd.randrange(4)
            g["d"] = rnd.randint(0, 14)
            g["r"] = rnd.random() < 0.3
        elif k == "open":
            g["f"] = rnd.choice(sorted(os.listdir(self.files)))
        elif k == "wait":
            g["t"] = rnd.choice([0.1, 0.5, 1.5, 3.0])
        return g

    def send(self, g):
        k = g["k"]
        if "x" in g:
            self.xdo("mousemove", "--sync", g["x"], g["y"])
        if k == "click":
            self.xdo("click", 1)
        elif k == "dclick":
            self.xdo("click", "--repeat", 2, "--delay", 60, 1)
        elif k == "rclick":
            self.xdo("click", 3)
        elif k == "modclick":
            self.xdo("keydown", g["mod"], "click", 1, "keyup", g["mod"])
        elif k == "focus":
            self.xdo("windowfocus", g["w"])
        elif k == "wheel":
            a = (["keydown", g["mod"]] if g["mod"] else []) + ["click", "--repeat", g["n"], "--delay", 30, g["b"]] + \
                (["keyup", g["mod"]] if g["mod"] else [])
            self.xdo(*a)
        elif k == "drag":
            if g["mod"]:
                self.xdo("keydown", g["mod"])
            self.xdo("mousedown", 1)
            for i in range(1, g["steps"] + 1):
                self.xdo("mousemove", g["x"] + (g["x2"] - g["x"]) * i // g["steps"],
                         g["y"] + (g["y2"] - g["y"]) * i // g["steps"])
                time.sleep(0.02)
                if g["keys"] and i == g["steps"] // 2:
                    self.xdo("key", *g["keys"])
            self.xdo("mouseup", 1)
            if g["mod"]:
                self.xdo("keyup", g["mod"])
        elif k == "key":
            self.xdo("key", "--delay", 40, *g["keys"])
        elif k == "menu":
            ws = self.windows()
            if ws:
                self.xdo("windowfocus", ws[0][0])
                self.xdo("key", "alt+" + "fesh"[g["i"]])
                time.sleep(0.2)
                if g["d"]:
                    self.xdo("key", *(["Down"] * g["d"]))
                if g["r"]:
                    self.xdo("key", "Right")
                self.xdo("key", "Return")
        elif k == "open":
            ws = self.windows()
            if ws:
                self.xdo("windowfocus", ws[0][0])
                self.xdo("key", "ctrl+o")
                time.sleep(0.8)
                after = self.windows()
                if len(after) > len(ws):
                    self.xdo("windowfocus", after[-1][0])
                    self.xdo("key", "ctrl+a")
                    self.xdo("type", "--delay", 5, os.path.join(self.files, g["f"]))
                    self.xdo("key", "Return")
        elif k == "wait":
            time.sleep(g["t"])
        time.sleep(self.args.pause)

    # --- run ----------------------------------------------------------------------------
    def fault(self, why):
        self.log.write(json.dumps({"fault": why}) + "\n")
        self.log.flush()
        subprocess.run(["import", "-window", "root", os.path.join(self.out, "fault.png")], env=self.env)
        if why == "hang" and self.app.poll() is None:
            with open(os.path.join(self.out, "stacks.txt"), "w") as f:
                subprocess.run(["gdb", "-p", str(self.app.pid), "-batch", "-ex", "thread apply all bt 25"],
                               stdout=f, stderr=subprocess.STDOUT)
        print("FAULT", why, "see", self.out, flush=True)

    def run(self, gestures):
        self.start_app(os.path.join(self.files, self.args.first) if self.args.first else None)
        n = 0
        for g in gestures:
            n += 1
            if g.get("k") == "restart":
                self.start_app()
                continue
            self.log.write(json.dumps(g) + "\n")
            self.log.flush()
            try:
                self.send(g)
            except subprocess.TimeoutExpired:
                pass
            rep = self.report_text()
            if rep:
                time.sleep(2)
                self.fault("report: " + rep)
                return 1
            rc = self.app.poll()
            if rc is not None:
                if rc != 0:
                    self.fault("exit %d" % rc)
                    return 1
                self.log.write(json.dumps({"k": "restart"}) + "\n")
                self.start_app()
            if n % 25 == 0 and self.hung():
                self.fault("hang")
                return 1
        print("done", n, "gestures, no fault", flush=True)
        return 0

    def close(self):
        if self.app and self.app.poll() is None:
            self.app.terminate()
            try:
                self.app.wait(10)
            except subprocess.TimeoutExpired:
                self.app.kill()
                self.app.wait()
        self.xvfb.terminate()
        self.xvfb.wait()
        shutil.rmtree(self.home, ignore_errors=True)


def generated(m, seed, minutes):
    rnd = random.Random(seed)
    end = time.monotonic() + minutes * 60
    while time.monotonic() < end:
        yield m.gesture(rnd)


def replayed(path, upto):
    with open(path) as f:
        gs = [json.loads(l) for l in f if l.strip()]
    gs = [g for g in gs if "fault" not in g]
    return gs[:upto] if upto else gs


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--binary", required=True)
    p.add_argument("--fixtures", required=True)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--minutes", type=float, default=5)
    p.add_argument("--display", type=int, default=120)
    p.add_argument("--out", default=None)
    p.add_argument("--first", default="loop.wav", help="file opened from the command line")
    p.add_argument("--pause", type=float, default=0.05)
    p.add_argument("--replay")
    p.add_argument("--upto", type=int, default=0)
    p.add_argument("--tsan-options", default=None)
    p.add_argument("--env", action="append", default=[], help="KEY=VALUE for the program")
    a = p.parse_args()
    a.out = a.out or "/tmp/monkey-%d" % a.seed
    m = Monkey(a)
    try:
        rc = m.run(replayed(a.replay, a.upto) if a.replay else generated(m, a.seed, a.minutes))
    finally:
        m.close()
    sys.exit(rc)


if __name__ == "__main__":
    main()
