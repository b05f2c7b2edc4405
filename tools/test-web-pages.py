#!/usr/bin/env python3
"""The pages of `make web` in a real headless Chromium, driven in real time through the DevTools
protocol over a pipe: each page presents, its first picture equals the Linux build's first
frame, the demonstration's ball is picked up, dragged and thrown, a key starts Breakout and its
paddle follows the pointer, its sound is heard after the first click, a Breakout session recorded
on Linux replays in the page with every frame hash verified (and fails with status 7 with one
hash changed; cut at a block boundary it passes, or fails with status 8 with &whole=1; each with
its summary line in Module.kastrelSummary), full screen asked for without a gesture is refused, settings saved by the engine
survive a reload (the page kastrel-web-save-probe, from the test build's tools/ folder), Breakout's
page weighs at most 2.5 MB, the gallery's page (dist/web/index.html) shows every thumbnail and
every link answers, each gallery example's Linux recording replays in its page with every frame
verified, and the weights and timings are printed. The Linux half runs in a
private Xvfb (tools/run-demo.sh). First, without Chromium, text under Node draws every glyph as
the Linux build does (the test build's kastrel_font_hashes.js against LINUX_BUILD's).
Usage: tools/test-web-pages.py dist/web [LINUX_BUILD [WEB_TEST_BUILD]]   (exit status 0: passed
or skipped, 1: failed; without LINUX_BUILD or Xvfb the checks against Linux are skipped, without
WEB_TEST_BUILD the saves, each with a message)"""
import base64, functools, http.server, json, os, re, shutil, struct, subprocess, sys, tempfile, \
    threading, time, zlib

CHROMIUM = os.environ.get("KASTREL_CHROMIUM", "/usr/bin/chromium")

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# In every page before its scripts: the canvas's puts counted and timed, the first picture that
# is not all black kept with its moment, and every sound source that reaches the speakers also
# fed to an analyser, whose loudest sample is kept.
PROBE = """
(function() {
  var w = window; w.__puts = []; w.__first = 0; w.__loudest = 0; w.__taps = [];
  var put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function(image) {
    put.apply(this, arguments);
    var now = performance.now(); w.__puts.push(now);
    if (!w.__first) {
      var d = image.data;
      for (var i = 0; i < d.length; i += 4) if (d[i] | d[i + 1] | d[i + 2]) {
        w.__first = now;
        w.__firstImage = {width: image.width, height: image.height, data: new Uint8Array(d)};
        break;
      }
    }
  };
  var connect = AudioNode.prototype.connect;
  AudioNode.prototype.connect = function(target) {
    if (target instanceof AudioDestinationNode) {
      var tap = this.context.createAnalyser();
      tap.fftSize = 2048;
      connect.call(this, tap);
      w.__taps.push(tap);
    }
    return connect.apply(this, arguments);
  };
  var samples = new Float32Array(2048);
  setInterval(function() {
    w.__taps.forEach(function(tap) {
      tap.getFloatTimeDomainData(samples);
      for (var i = 0; i < samples.length; i++) w.__loudest = Math.max(w.__loudest, Math.abs(samples[i]));
    });
  }, 20);
})();
"""

# The first picture as base64 RGBA.
FIRST_IMAGE = """(function() {
  var f = window.__firstImage, s = '';
  for (var i = 0; i < f.data.length; i += 8192) s += String.fromCharCode.apply(null, f.data.subarray(i, i + 8192));
  return {width: f.width, height: f.height, rgba: btoa(s)};
})()"""


# The kit's browser (cmake/kastrel_page_replay.py), with the desktop's sound policy: no sound
# before a gesture.
sys.path.insert(0, os.path.join(ROOT, "cmake"))
import kastrel_page_replay  # noqa: E402


class Browser(kastrel_page_replay.Browser):
    # gpu: the flags for drawing; WebGL on a machine without a GPU needs Chromium's software GL.
    def __init__(self, gpu=("--disable-gpu",)):
        super().__init__(CHROMIUM, gpu, ("--autoplay-policy=document-user-activation-required",))


# The canvas's pixels: how many are not black, and the mean x of the near-white ones (Breakout's
# paddle) in the bottom fifth, as a fraction of the width.
PIXELS = """(function() {
  var c = document.getElementById('canvas'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  var lit = 0, sx = 0, n = 0, bottom = Math.floor(c.height * 0.8);
  for (var i = 0; i < d.length; i += 4) {
    if (!(d[i] | d[i + 1] | d[i + 2])) continue;
    lit++;
    var p = i / 4;
    if (Math.floor(p / c.width) >= bottom && d[i] > 200 && d[i + 1] > 200 && d[i + 2] > 200) { sx += p % c.width; n++; }
  }
  return {lit: lit, bottomX: n ? sx / n / c.width : -1, w: c.width, h: c.height};
})()"""


def mouse(browser, kind, x, y, button="none", clicks=0):
    browser.page("Input.dispatchMouseEvent", type=kind, x=x, y=y, button=button, clickCount=clicks)


def canvas_box(browser):
    return browser.eval("(function(){var r=document.getElementById('canvas').getBoundingClientRect();"
                        "return [r.left, r.top, r.width, r.height];})()")


def check_page(browser, base, game, results):
    """The page loads and presents, and its overlay goes with a click (the first gesture). Returns
    the canvas's place and the loudest sample heard before that click."""
    browser.page("Page.navigate", url=f"{base}/{game}/index.html")
    first = browser.wait_for("window.__first", 20, f"{game}: a picture on the canvas")
    results[f"{game} navigation to first picture (ms)"] = round(first)
    browser.wait_for("document.getElementById('overlay').textContent == 'Click to play'", 10,
                     f"{game}: the click-to-start overlay")
    left, top, width, height = canvas_box(browser)
    time.sleep(0.3)  # time for a sound, were one heard before the gesture
    silent = browser.eval("window.__loudest")
    mouse(browser, "mousePressed", left + width / 2, top + height / 2, "left", 1)
    mouse(browser, "mouseReleased", left + width / 2, top + height / 2, "left", 1)
    browser.wait_for("document.getElementById('overlay').classList.contains('gone')", 5,
                     f"{game}: the overlay gone after a click")
    assert browser.eval(PIXELS)["lit"] > 0, f"{game}: the canvas is blank"
    return left, top, width, height, silent


def presents(browser, game, results):
    """Presents in 3 s of real time: their rate and the share of long intervals."""
    browser.eval("window.__puts = []")
    time.sleep(3)
    puts = browser.eval("window.__puts")
    gaps = [b - a for a, b in zip(puts, puts[1:])]
    results[f"{game} presents per second"] = round(len(puts) / 3, 1)
    results[f"{game} intervals over 25 ms (%)"] = round(100 * sum(g > 25 for g in gaps) / max(len(gaps), 1), 1)
    assert len(puts) > 30, f"{game}: only {len(puts)} presents in 3 s"


def key(browser, name, code, number):
    for kind in ("rawKeyDown", "keyUp"):
        browser.page("Input.dispatchKeyEvent", type=kind, key=name, code=code,
                     windowsVirtualKeyCode=number, nativeVirtualKeyCode=number)


def check_sound(browser, game, before):
    """Silent before the first gesture; not after it, once the game plays a sound."""
    assert before == 0, f"{game}: sound before the first gesture (loudest sample {before})"
    assert browser.eval("window.__taps.length") > 0, f"{game}: no sound source reaches the speakers"
    loudest = browser.wait_for("window.__loudest", 8, f"{game}: a sound after the first click")
    return round(loudest, 3)


def check_breakout(browser, base, results):
    left, top, width, height, before = check_page(browser, base, "breakout", results)
    # Space leaves the title for play (a key through the page), where the paddle follows the pointer.
    key(browser, " ", "Space", 32)
    time.sleep(1.5)
    y = top + height * 0.8
    spots = []
    for fraction in (0.15, 0.85, 0.15):
        for step in range(10):  # each position a few events, as a hand moves
            mouse(browser, "mouseMoved", left + width * (fraction + step * 0.001), y)
        time.sleep(0.5)
        spots.append(browser.eval(PIXELS)["bottomX"])
    assert spots[0] < 0.4 and spots[1] > 0.6 and spots[2] < 0.4, \
        f"breakout: the paddle did not follow the pointer (its mean x: {spots})"
    results["breakout loudest sample after the first click"] = check_sound(browser, "breakout", before)
    presents(browser, "breakout (playing)", results)


# The demonstration's red ball: the middle of its pixels in frame pixels, or None.
BALL = """(function() {
  var c = document.getElementById('canvas'), d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  var sx = 0, sy = 0, n = 0;
  for (var i = 0; i < d.length; i += 4)
    if (d[i] > 120 && d[i + 1] < 60 && d[i + 2] < 60) { sx += (i / 4) % c.width; sy += Math.floor(i / 4 / c.width); n++; }
  return n > 200 ? [sx / n, sy / n] : null;
})()"""


def check_demo(browser, base, results):
    """The ball falls to rest, is picked up, dragged up and to the left, and thrown: it follows the
    pointer while held and flies on once let go."""
    left, top, width, height, _ = check_page(browser, base, "demo", results)
    presents(browser, "demo", results)
    cw, ch = browser.eval("[document.getElementById('canvas').width, document.getElementById('canvas').height]")
    at = lambda x, y: (left + x * width / cw, top + y * height / ch)  # frame pixel -> page point
    deadline, rest = time.monotonic() + 10, None
    while time.monotonic() < deadline:  # at rest: the same place twice, on the floor
        before = browser.eval(BALL)
        time.sleep(0.3)
        rest = browser.eval(BALL)
        if rest and before and rest == before and rest[1] > ch * 0.8:
            break
    else:
        raise AssertionError(f"demo: the ball did not come to rest on the floor (last {rest})")
    x, y = rest
    for step in (3, 2, 1, 0):  # approach, then hover
        mouse(browser, "mouseMoved", *at(x + step * 30, y - step * 20))
        time.sleep(0.1)
    time.sleep(0.3)
    browser.page("Input.dispatchMouseEvent", type="mousePressed", button="left", buttons=1,
                 clickCount=1, **dict(zip("xy", at(x, y))))
    time.sleep(0.2)
    for step in range(1, 11):
        browser.page("Input.dispatchMouseEvent", type="mouseMoved", button="left", buttons=1,
                     **dict(zip("xy", at(x - step * 14, y - step * 26))))
        time.sleep(0.05)
    time.sleep(0.4)
    held = browser.eval(BALL)
    assert held and abs(held[0] - (x - 140)) < 12 and abs(held[1] - (y - 260)) < 12, \
        f"demo: the ball did not follow the pointer from {rest} to {(x - 140, y - 260)}: {held}"
    for dx in (40, 80, 120, 250):  # a fast move up and to the right, let go while moving
        browser.page("Input.dispatchMouseEvent", type="mouseMoved", button="left", buttons=1,
                     **dict(zip("xy", at(x - 140 + dx, y - 260 - dx / 4))))
        time.sleep(0.02)
    browser.page("Input.dispatchMouseEvent", type="mouseReleased", button="left", buttons=0,
                 clickCount=1, **dict(zip("xy", at(x + 110, y - 322))))
    let_go = browser.eval(BALL)
    flight = []
    for _ in range(4):
        time.sleep(0.1)
        flight.append(browser.eval(BALL))
    moving = [p for p in flight if p]
    assert let_go and len(moving) == 4 and moving[-1][0] > let_go[0] + 10 and \
        len({tuple(p) for p in moving}) == 4, \
        f"demo: the ball did not fly on to the right after it was let go: {let_go} then {flight}"
    results["demo ball: rest, held, let go, 0.4 s later"] = [
        [round(v) for v in p] for p in (rest, held, let_go, moving[-1])]


def png_rgb(path):
    """An 8-bit RGB or RGBA PNG's size and RGB bytes (a small reader, apart from the engine's)."""
    data, pos, idat = open(path, "rb").read(), 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body, pos = data[pos + 8:pos + 8 + length], pos + 12 + length
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
    assert depth == 8 and colour in (2, 6) and not interlace, f"{path}: not an 8-bit RGB(A) PNG"
    n = 3 if colour == 2 else 4
    raw, stride, out, prev = zlib.decompress(idat), w * n, bytearray(), bytearray(w * n)
    for row in range(h):
        kind, line = raw[row * (stride + 1)], bytearray(raw[row * (stride + 1) + 1:(row + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b, c = prev[i], prev[i - n] if i >= n else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        out += line if n == 3 else bytes(v for i, v in enumerate(line) if i % 4 != 3)
        prev = line
    return w, h, bytes(out)


def check_first_frame(browser, game, linux_frame, results, cursor=None):
    """The page's first picture, read back from the canvas, against the Linux build's first frame
    (the frame buffer after pass 1, written by the engine as PNG): every pixel's RGB equal. A game
    that draws its own cursor (CURSOR: the picture's size, hanging 5 pixels off the pointer) may
    differ inside it only: before the player moves, X reports the pointer (in the window's middle
    in Xvfb), while a page learns of it only from a move, so its pointer starts at (-1, -1)."""
    w, h, want = png_rgb(linux_frame)
    got = browser.eval(FIRST_IMAGE)
    rgba = base64.b64decode(got["rgba"])
    assert (got["width"], got["height"]) == (w, h), \
        f"{game}: the first picture is {got['width']} x {got['height']}, Linux's {w} x {h}"
    rgb = bytes(v for i, v in enumerate(rgba) if i % 4 != 3)
    differ = [i // 3 for i in range(0, len(rgb), 3) if rgb[i:i + 3] != want[i:i + 3]]
    cursors = [(4, 4), (w // 2 + 5, h // 2 + 5)] if cursor else []
    left = [p for p in differ if not any(x <= p % w < x + cursor[0] and y <= p // w < y + cursor[1]
                                         for x, y in cursors)]
    assert not left, (f"{game}: {len(left)} pixels of the first picture differ from Linux's, the "
                      f"first at ({left[0] % w}, {left[0] // w})")
    results[f"{game} first picture = Linux's first frame (pixels equal, in the cursor)"] = \
        [w * h - len(differ), len(differ)]


def run_bounded(argv, seconds, **options):
    """Runs a program to its end, its output kept. Past SECONDS it is asked to stop (SIGTERM: a
    script's own clean-up ends what it started) and killed 30 s later, by its id."""
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **options)
    try:
        out, err = proc.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.terminate()
        try:
            proc.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=30)
        raise AssertionError(f"{argv[0]} did not end within {seconds} s")
    return subprocess.CompletedProcess(argv, proc.returncode, out, err)


def linux_runs(linux_build, into):
    """The Linux build's side in a private Xvfb: each game's first frame (KASTREL_FRAMES_AT=1),
    and a Breakout session recorded while tools/run-demo.sh plays it. None where it cannot run."""
    if not linux_build or not shutil.which("Xvfb") or not shutil.which("xdotool"):
        print("test-web-pages: the checks against the Linux build are skipped: "
              + ("no Linux build named" if not linux_build else "no Xvfb or xdotool"))
        return None
    runs = {}
    for game, normal in (("demo", 1), ("breakout", 0), ("platformer", 0)):
        env = dict(os.environ, KASTREL_DEMO_HEADLESS="1", KASTREL_FRAMES=f"{into}/{game}-frames",
                   KASTREL_FRAMES_AT="1", KASTREL_SCREENSHOT_DIR=f"{into}/{game}-shots",
                   SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null")
        if game == "breakout":
            env["KASTREL_RECORD"] = f"{into}/sessions/linux.kst"
        if game == "platformer":  # played to its flag: the goal's large text, faded in
            env["KASTREL_RECORD"] = f"{into}/sessions/platformer.kst"
        os.makedirs(env["KASTREL_FRAMES"], exist_ok=True)
        run = run_bounded([f"{ROOT}/tools/run-demo.sh", linux_build, game], 300, env=env)
        assert run.returncode == normal, \
            f"the Linux {game} ended with status {run.returncode}:\n{run.stderr[-2000:]}"
        runs[game] = f"{env['KASTREL_FRAMES']}/pass-000001.png"
    changed_hash(f"{into}/sessions/linux.kst", f"{into}/sessions/changed.kst")
    cut_session(f"{into}/sessions/linux.kst", f"{into}/sessions/cut.kst")
    return runs


def cut_session(source, target):
    """A copy of a session without its last block: a recording cut at a block boundary."""
    data, pos, last = open(source, "rb").read(), 16, 16
    while pos < len(data):
        last = pos
        pos += 9 + struct.unpack("<I", data[pos + 1:pos + 5])[0] + 4
    with open(target, "wb") as out:
        out.write(data[:last])


def check_text(linux_build, web_tools, results):
    """Text under Node, which runs the page's WebAssembly: every character of the page font's
    ranges at 8 to 96 pixels draws the same pixels as on Linux from the same font file, the
    system's DejaVu Sans and the page's cut of it (tools/testing/font_hashes.cpp, a hash per
    size)."""
    node = shutil.which("node") or shutil.which("nodejs")
    linux = f"{linux_build}/tools/kastrel_font_hashes" if linux_build else None
    web = f"{web_tools}/kastrel_font_hashes.js" if web_tools else None
    if not node or not linux or not os.access(linux, os.X_OK) or not os.path.exists(web):
        print("test-web-pages: text against Linux is not checked: no Node, or kastrel_font_hashes "
              f"is not built in {linux_build}/tools and {web_tools}")
        return
    fonts = [f for f in ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", f"{web_tools}/web/DejaVuSans.ttf")
             if os.path.exists(f)]
    for font in fonts:
        start = time.monotonic()
        got = [subprocess.run(command + [font], capture_output=True, text=True, timeout=120)
               for command in ([linux], [node, web])]
        for run in got:
            assert run.returncode == 0, f"kastrel_font_hashes on {font} failed: {run.stderr[-2000:]}"
        lines = [run.stdout.splitlines() for run in got]
        differ = [f"{a} (Linux) / {b} (Node)" for a, b in zip(*lines) if a != b]
        assert lines[0] and not differ and len(lines[0]) == len(lines[1]), \
            f"text from {font} differs at {len(differ)} sizes, the first: {differ[:1]}"
        results[f"text from {os.path.basename(os.path.dirname(font))}/{os.path.basename(font)} "
                "(sizes, glyphs, s)"] = [len(lines[0]), int(lines[0][0].split()[2]),
                                         round(time.monotonic() - start, 1)]


def changed_hash(source, target):
    """A copy of a session with one byte changed in its last frame hash: the last number of the
    last block's body (only the end mark, which has none, follows it). The block is stored again
    unpacked, with its lengths and checksum made right, so only the hash differs."""
    data, pos = open(source, "rb").read(), 16
    while True:
        flags, stored, _ = struct.unpack("<BII", data[pos:pos + 9])
        if flags & 2:
            break
        pos += 9 + stored + 4
    body = data[pos + 9:pos + 9 + stored]
    body = bytearray(zlib.decompress(body, -15) if flags & 1 else body)
    body[-1] ^= 0x01
    block = struct.pack("<BII", flags & ~1, len(body), len(body)) + bytes(body)
    with open(target, "wb") as out:
        out.write(data[:pos] + block + struct.pack("<I", zlib.crc32(block)))


def check_replays(browser, base, results):
    """The Linux recording replayed in the page with every frame hash verified: status 0; the
    same with one hash changed: status 7, and the page says so; a session not there: status 6;
    one cut at a block boundary: status 0, or 8 with &whole=1. Module.kastrelSummary holds the
    summary line kastrel-replay --verify prints."""
    frames = r"kastrel-replay: (\d+) frames compared, (\d+) equal; the recording is "
    for session, whole, status, summary in (
            ("missing.kst", "", 6, r"kastrel-replay: no summary: the game ended with status 6 "),
            ("linux.kst", "", 0, frames + "whole$"),
            ("changed.kst", "", 7, frames + "whole$"),
            ("cut.kst", "", 0, frames + r"cut short after pass \d+$"),
            ("cut.kst", "&whole=1", 8, frames + r"cut short after pass \d+$")):
        start = time.monotonic()
        browser.page("Page.navigate",
                     url=f"{base}/breakout/index.html?replay=../sessions/{session}&verify=1{whole}")
        got = browser.wait_for("window.Module && Module.kastrelExit !== undefined && [Module.kastrelExit, "
                               "document.getElementById('overlay').textContent, Module.kastrelSummary]", 90,
                               f"breakout: the replay of {session}{whole} to end")
        assert got[0] == status, f"breakout: the replay of {session} ended with status {got[0]}: {got[1]}"
        assert ("passed" if status == 0 else f"status {status}") in got[1], f"the page says: {got[1]!r}"
        line = re.match(summary, got[2] or "")
        assert line, f"breakout: the replay of {session}{whole} sums up as {got[2]!r}"
        if session != "missing.kst":
            assert (line.group(1) == line.group(2)) == (status != 7), f"the summary: {got[2]!r}"
        results[f"breakout replay of {session}{whole} (status, s)"] = [got[0], round(time.monotonic() - start, 1)]
        if session == "changed.kst":
            assert "differ" in got[1], f"the page names no differing frame: {got[1]!r}"
    # The platformer played on Linux to its flag, every frame as recorded in its page: its text,
    # large and small, draws the same pixels in the browser.
    start = time.monotonic()
    browser.page("Page.navigate",
                 url=f"{base}/platformer/index.html?replay=../sessions/platformer.kst&verify=1&whole=1")
    got = browser.wait_for("window.Module && Module.kastrelExit !== undefined && [Module.kastrelExit, "
                           "Module.kastrelSummary]", 180, "platformer: the replay to end")
    assert got[0] == 0 and re.match(frames + "whole$", got[1] or ""), \
        f"platformer: the Linux recording replays in the page with status {got[0]}: {got[1]!r}"
    results["platformer replay of its Linux recording (summary, s)"] = [got[1], round(time.monotonic() - start, 1)]


def check_fullscreen(browser, base, results):
    """Full screen asked for as a game does, with no gesture yet: refused, and the game reads back
    the window it still has; asked for in a gesture: taken."""
    browser.page("Page.navigate", url=f"{base}/demo/index.html")
    browser.wait_for("window.__first", 20, "demo: a picture on the canvas")
    refused = browser.eval("Module._kastrel_web_set_fullscreen(1)")
    time.sleep(0.5)  # passes go by: nothing is held back for a later click
    state = browser.eval("[Module._kastrel_web_fullscreen(), !!document.fullscreenElement]")
    assert refused == 1 and state == [0, False], \
        f"full screen without a gesture: refused {refused}, then (full screen, page) {state}"
    taken = browser.eval("[Module._kastrel_web_set_fullscreen(1), Module._kastrel_web_fullscreen()]", True)
    assert taken == [0, 1], f"full screen in a gesture: (refused, full screen) {taken}"
    results["full screen (without a gesture; in one)"] = ["refused, reads 0", "taken, reads 1"]


def check_saves(browser, base):
    """The engine's own save (SETTINGS::SAVE, stored in IndexedDB before it returns) read back by
    the next run after a reload: the probe's count of runs goes up."""
    runs = []
    for _ in range(2):
        if runs:
            browser.eval("window.__before_reload = 1")
            browser.page("Page.reload")
            browser.wait_for("!window.__before_reload", 20, "the save probe reloaded")
        else:
            browser.page("Page.navigate", url=f"{base}/probe/index.html")
        status = browser.wait_for("window.Module && Module.kastrelExit !== undefined && "
                                  "[Module.kastrelExit, Module.kastrelMessage]", 20, "the save probe's end")
        assert status[0] == 0, f"the save probe failed: {status}"
        runs.append(browser.eval("FS.readFile('/saves/kastrel/web-save-probe/probe.txt', {encoding: 'utf8'})"))
    assert [r.strip() for r in runs] == ["runs=1", "runs=2"], f"the saves read back as {runs}"


def check_gallery(browser, base, root, results):
    """The gallery's page: every thumbnail shown and every link answered, the pages of the
    demonstration, Breakout and the platformer among them; then each example's Linux recording
    replayed whole in its page, every frame as recorded; and the gallery's weight."""
    assert os.path.isfile(f"{root}/index.html") and os.path.isdir(f"{root}/gallery"), \
        f"no gallery page in {root} (make web writes index.html and gallery/)"
    names = sorted(os.listdir(f"{root}/gallery"))
    browser.page("Page.navigate", url=f"{base}/index.html")
    browser.wait_for("document.readyState === 'complete'", 30, "the gallery page to load")
    got = browser.eval("""(async () => {
      const shown = [...document.images].filter(i => i.complete && i.naturalWidth > 0).length;
      const links = [...document.links].map(a => a.href);
      const answers = await Promise.all(links.map(l => fetch(l).then(r => r.ok, () => false)));
      return [document.images.length, shown, links.filter((l, i) => !answers[i]),
              links.map(l => l.replace(location.href.replace(/index.html$/, ''), ''))];
    })()""")
    pages = {f"gallery/{name}/index.html" for name in names} | \
        {f"{game}/index.html" for game in ("demo", "breakout", "platformer")}
    assert got[0] == len(names) and got[1] == len(names), \
        f"the gallery page shows {got[1]} of {got[0]} thumbnails for {len(names)} examples"
    assert not got[2], f"the gallery page's links that do not answer: {got[2]}"
    assert pages <= set(got[3]), f"the gallery page links no {sorted(pages - set(got[3]))}"
    frames = r"kastrel-replay: (\d+) frames compared, \1 equal; the recording is whole$"
    start = time.monotonic()
    for name in names:
        browser.page("Page.navigate", url=f"{base}/gallery/{name}/index.html"
                     f"?replay=../../sessions/gallery/{name}.kst&verify=1&whole=1")
        got = browser.wait_for("window.Module && Module.kastrelExit !== undefined && [Module.kastrelExit, "
                               "Module.kastrelSummary]", 120, f"gallery {name}: the replay to end")
        assert got[0] == 0 and re.match(frames, got[1] or ""), \
            f"gallery {name}: its Linux recording replays in its page with status {got[0]}: {got[1]!r}"
    results["gallery: sessions replayed in their pages (count, s)"] = [len(names), round(time.monotonic() - start, 1)]
    sizes = {name: sum(os.path.getsize(f"{root}/gallery/{name}/{f}") for f in os.listdir(f"{root}/gallery/{name}"))
             for name in names}
    largest = max(sizes, key=sizes.get)
    results["gallery: total weight, with index.html (MB)"] = \
        f"{(sum(sizes.values()) + os.path.getsize(f'{root}/index.html')) / 1e6:.2f}"
    results["gallery: the largest example (MB)"] = f"{largest} {sizes[largest] / 1e6:.2f}"


# Every page's files as served: bytes, and bytes once gzipped (as a server would send them).
LIMIT = 2_500_000


def weigh(root, results):
    for game in ("demo", "breakout"):
        raw = packed = 0
        for name in sorted(os.listdir(f"{root}/{game}")):
            data = open(f"{root}/{game}/{name}", "rb").read()
            raw, packed = raw + len(data), packed + len(zlib.compress(data, 9))
            results[f"{game} page: {name} (bytes)"] = len(data)
        results[f"{game} page (MB; gzipped)"] = f"{raw / 1e6:.2f}; {packed / 1e6:.2f}"
        if game == "breakout":
            assert raw <= LIMIT, f"Breakout's page weighs {raw} bytes, over {LIMIT}"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "dist/web"
    linux_build = sys.argv[2] if len(sys.argv) > 2 else None
    probe = sys.argv[3] if len(sys.argv) > 3 else None
    results = {}
    try:
        check_text(linux_build, probe, results)
    except (AssertionError, subprocess.TimeoutExpired) as failure:
        print(f"test-web-pages: FAILED: {failure}")
        return 1
    if not os.access(CHROMIUM, os.X_OK):
        for name, value in results.items():
            print(f"  {name}: {value}")
        print(f"test-web-pages: the pages are skipped: no Chromium at {CHROMIUM}")
        return 0
    # Served: the two pages as built, and the sessions recorded on Linux beside them.
    tmp = tempfile.mkdtemp(prefix="kastrel-web-pages-")
    serve = f"{tmp}/serve"
    os.makedirs(f"{serve}/sessions")
    for game in ("demo", "breakout", "platformer", "gallery", "index.html"):
        os.symlink(os.path.abspath(f"{root}/{game}"), f"{serve}/{game}")
    os.symlink(f"{ROOT}/examples/gallery/sessions", f"{serve}/sessions/gallery")
    probe_files = [f"{probe}/index.html"] + [f"{probe}/kastrel-web-save-probe.{e}" for e in ("js", "wasm", "data")]
    if probe and all(os.path.exists(f) for f in probe_files):
        os.makedirs(f"{serve}/probe")
        for f in probe_files:
            os.symlink(os.path.abspath(f), f"{serve}/probe/{os.path.basename(f)}")
    else:
        print(f"test-web-pages: the saves are not checked: no save probe page in {probe}")
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=serve))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    browser = None
    try:
        weigh(root, results)
        linux = linux_runs(linux_build, serve)
        browser = Browser()
        results["browser"] = browser.call("Browser.getVersion")["product"]
        browser.page("Page.enable")
        browser.page("Page.addScriptToEvaluateOnNewDocument", source=PROBE)
        check_demo(browser, base, results)
        if linux:
            cursor = struct.unpack(">II", open(f"{ROOT}/demo/images/cursor.png", "rb").read()[16:24])
            check_first_frame(browser, "demo", linux["demo"], results, cursor)
        check_breakout(browser, base, results)
        if linux:
            check_first_frame(browser, "breakout", linux["breakout"], results)
            check_replays(browser, base, results)
        check_fullscreen(browser, base, results)
        check_gallery(browser, base, root, results)
        if os.path.isdir(f"{serve}/probe"):
            check_saves(browser, base)
    except (AssertionError, RuntimeError) as failure:
        print(f"test-web-pages: FAILED: {failure}")
        return 1
    finally:
        if browser:
            browser.close()
        server.shutdown()
        shutil.rmtree(tmp, ignore_errors=True)
    for name, value in results.items():
        print(f"  {name}: {value}")
    print("test-web-pages: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
