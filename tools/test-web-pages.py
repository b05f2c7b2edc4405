#!/usr/bin/env python3
"""The pages of `make web` in a real headless Chromium, driven in real time through the DevTools
protocol over a pipe: each page presents, a key starts Breakout and its paddle follows the
pointer, a saved file survives a reload, and the timings are printed.
Usage: tools/test-web-pages.py dist/web   (exit status 0: passed or skipped, 1: failed)"""
import base64, functools, http.server, json, os, shutil, subprocess, sys, tempfile, threading, time

CHROMIUM = os.environ.get("KASTREL_CHROMIUM", "/usr/bin/chromium")

# In every page before its scripts: the canvas's puts counted and timed, and the moment the first
# picture that is not all black went up.
PROBE = """
(function() {
  var w = window; w.__puts = []; w.__first = 0;
  var put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function() {
    put.apply(this, arguments);
    var now = performance.now(); w.__puts.push(now);
    if (!w.__first) {
      var d = arguments[0].data;
      for (var i = 0; i < d.length; i += 4) if (d[i] | d[i + 1] | d[i + 2]) { w.__first = now; break; }
    }
  };
})();
"""


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="kastrel-chromium-")
        to_r, to_w = os.pipe()
        from_r, from_w = os.pipe()
        flags = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--autoplay-policy=user-gesture-required", "--remote-debugging-pipe",
                 "--user-data-dir=" + self.profile, "--window-size=1024,768", "about:blank"]
        # Chromium reads the protocol on fd 3 and writes on fd 4.
        def fds():
            os.dup2(to_r, 3)
            os.dup2(from_w, 4)
        self.proc = subprocess.Popen([CHROMIUM] + flags, preexec_fn=fds, close_fds=False,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_r), os.close(from_w)
        self.out, self.inp = os.fdopen(to_w, "wb"), os.fdopen(from_r, "rb")
        self.next_id, self.buffer = 0, b""
        targets = self.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                 flatten=True)["sessionId"]

    def call(self, method, session=None, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.out.write(json.dumps(message).encode() + b"\0")
        self.out.flush()
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.inp.fileno(), 1 << 16)
                if not chunk:
                    raise RuntimeError("Chromium closed the protocol pipe")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def page(self, method, **params):
        return self.call(method, session=self.session, **params)

    def eval(self, expression):
        result = self.page("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, seconds, what):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = self.eval(expression)
            if value:
                return value
            time.sleep(0.05)
        raise AssertionError(f"{what}: not within {seconds} s")

    def close(self):
        self.proc.kill()
        self.proc.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


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
    start = time.monotonic()
    browser.page("Page.navigate", url=f"{base}/{game}/index.html")
    first = browser.wait_for("window.__first", 20, f"{game}: a picture on the canvas")
    results[f"{game} navigation to first picture (ms)"] = round(first)
    browser.wait_for("document.getElementById('overlay').textContent == 'Click to play'", 10,
                     f"{game}: the click-to-start overlay")
    left, top, width, height = canvas_box(browser)
    mouse(browser, "mousePressed", left + width / 2, top + height / 2, "left", 1)
    mouse(browser, "mouseReleased", left + width / 2, top + height / 2, "left", 1)
    browser.wait_for("document.getElementById('overlay').classList.contains('gone')", 5,
                     f"{game}: the overlay gone after a click")
    assert browser.eval(PIXELS)["lit"] > 0, f"{game}: the canvas is blank"
    # Presents while the game plays, real time: count and long intervals.
    browser.eval("window.__puts = []")
    time.sleep(3)
    puts = browser.eval("window.__puts")
    gaps = [b - a for a, b in zip(puts, puts[1:])]
    results[f"{game} presents per second"] = round(len(puts) / 3, 1)
    results[f"{game} intervals over 25 ms (%)"] = round(100 * sum(g > 25 for g in gaps) / max(len(gaps), 1), 1)
    assert len(puts) > 30, f"{game}: only {len(puts)} presents in 3 s"
    return left, top, width, height, start


def key(browser, name, code, number):
    for kind in ("rawKeyDown", "keyUp"):
        browser.page("Input.dispatchKeyEvent", type=kind, key=name, code=code,
                     windowsVirtualKeyCode=number, nativeVirtualKeyCode=number)


def check_breakout(browser, base, results):
    left, top, width, height, _ = check_page(browser, base, "breakout", results)
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


def check_saves(browser, base):
    """A file written to the player's folder and stored, read back after a reload."""
    browser.page("Page.navigate", url=f"{base}/demo/index.html")
    browser.wait_for("window.Module && Module.kastrelSaves && typeof FS == 'object'", 20, "saves mounted")
    token = str(time.time())
    stored = browser.eval("new Promise(function(done){FS.writeFile('/saves/probe.txt', '%s');"
                          "FS.syncfs(false, function(e){done(!e);});})" % token)
    assert stored, "the file was not stored in IndexedDB"
    browser.eval("window.__before_reload = 1")
    browser.page("Page.reload")
    browser.wait_for("!window.__before_reload && window.Module && Module.kastrelSaves && window.__first",
                     20, "saves after a reload")
    back = browser.eval("FS.readFile('/saves/probe.txt', {encoding: 'utf8'})")
    assert back == token, f"the saved file read back as {back!r}"


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "dist/web"
    if not os.access(CHROMIUM, os.X_OK):
        print(f"test-web-pages: skipped: no Chromium at {CHROMIUM}")
        return 0
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=root))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    browser = Browser()
    results = {}
    try:
        browser.page("Page.enable")
        browser.page("Page.addScriptToEvaluateOnNewDocument", source=PROBE)
        check_page(browser, base, "demo", results)
        check_breakout(browser, base, results)
        check_saves(browser, base)
    except (AssertionError, RuntimeError) as failure:
        print(f"test-web-pages: FAILED: {failure}")
        return 1
    finally:
        browser.close()
        server.shutdown()
    for name, value in results.items():
        print(f"  {name}: {value}")
    print("test-web-pages: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
