#!/usr/bin/env python3
"""Replays a recorded session in a game's page, in headless Chromium, with every frame checked, as
kastrel-replay --verify does for a program:
    kastrel_page_replay.py PAGE_FOLDER SESSION [--whole]
The page folder (index.html beside the game's .js, .wasm and .data) is served by a plain static
server on 127.0.0.1, the page is opened with ?replay=...&verify=1, and the game's exit status is
this script's (0: every frame as recorded; 6: the session is unusable; 7: it diverged). Exit status
77: Chromium is missing (the message says so). Chromium is driven through the DevTools protocol
over a pipe; KASTREL_CHROMIUM names another browser program."""
import functools, http.server, json, os, select, shutil, subprocess, sys, tempfile, threading, time
import urllib.parse


def find_chromium():
    named = os.environ.get("KASTREL_CHROMIUM")
    if named:
        return named if os.access(named, os.X_OK) else None
    for name in ("chromium", "chromium-browser", "google-chrome", "chrome"):
        found = shutil.which(name)
        if found:
            return found
    return None


class Browser:
    """Headless Chromium on the DevTools pipe; every read has a deadline."""

    def __init__(self, program, gpu=("--disable-gpu",), extra=()):
        self.profile = tempfile.mkdtemp(prefix="kastrel-chromium-")
        to_r, to_w = os.pipe()
        from_r, from_w = os.pipe()
        flags = ["--headless=new", "--no-sandbox", *gpu, "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--remote-debugging-pipe", "--user-data-dir=" + self.profile,
                 "--window-size=1024,768", *extra, "about:blank"]

        # Chromium reads the protocol on fd 3 and writes on fd 4 (copied first: a pipe already on
        # fd 3 would keep its close-on-exec flag through dup2 onto itself).
        def fds():
            r, w = os.dup(to_r), os.dup(from_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen([program] + flags, preexec_fn=fds, close_fds=False,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_r), os.close(from_w)
        self.out, self.inp = os.fdopen(to_w, "wb"), from_r
        self.next_id, self.buffer = 0, b""
        try:
            targets = self.call("Target.getTargets")["targetInfos"]
            page = next(t for t in targets if t["type"] == "page")
            self.session = self.call("Target.attachToTarget", targetId=page["targetId"],
                                     flatten=True)["sessionId"]
        except BaseException:
            self.close()
            raise

    def call(self, method, session=None, timeout=120, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = session
        self.out.write(json.dumps(message).encode() + b"\0")
        self.out.flush()
        deadline = time.monotonic() + timeout
        while True:
            while b"\0" not in self.buffer:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([self.inp], [], [], left)[0]:
                    raise TimeoutError(f"{method}: Chromium did not answer within {timeout} s")
                chunk = os.read(self.inp, 1 << 16)
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

    def eval(self, expression, gesture=False):
        result = self.page("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True, userGesture=gesture)
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
        self.proc.wait(timeout=30)
        shutil.rmtree(self.profile, ignore_errors=True)


class Server:
    """A plain static server of FOLDER on 127.0.0.1, with EXTRA files served at /__extra/<name>."""

    def __init__(self, folder, extra=None):
        extra = extra or {}

        class Handler(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def translate_path(self, path):
                name = urllib.parse.unquote(urllib.parse.urlsplit(path).path)
                if name.startswith("/__extra/") and name[9:] in extra:
                    return extra[name[9:]]
                return super().translate_path(path)

        self.httpd = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(Handler, directory=folder))
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def replay(folder, session, whole=False, seconds=480):
    if not os.path.isfile(os.path.join(folder, "index.html")):
        print(f"kastrel-page-replay: {folder} holds no index.html", file=sys.stderr)
        return 2
    program = find_chromium()
    if not program:
        print("kastrel-session-test: skipped: Chromium is not installed (apt-get install "
              "chromium), so the page cannot run here")
        return 77
    server = Server(folder, {"session.kst": os.path.abspath(session)})
    browser = Browser(program)
    try:
        query = "?replay=__extra/session.kst&verify=1" + ("&whole=1" if whole else "")
        browser.page("Page.enable")
        browser.page("Page.navigate", url=server.url + "index.html" + query)
        status = browser.wait_for(
            "typeof Module === 'object' && typeof Module.kastrelExit === 'number' ? "
            "String(Module.kastrelExit) : ''", seconds, "the page's replay to end")
        summary = browser.eval("Module.kastrelSummary || ''")
        message = browser.eval("Module.kastrelMessage || ''")
        if summary:
            print(summary.replace("kastrel-replay:", "kastrel-page-replay:", 1))
        if int(status) != 0 and message:
            print(f"kastrel-page-replay: {message}", file=sys.stderr)
        print(f"kastrel-page-replay: the page ended with status {status}")
        return int(status)
    finally:
        browser.close()
        server.close()


if __name__ == "__main__":
    args = [a for a in sys.argv[1:] if a != "--whole"]
    if len(args) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(replay(args[0], args[1], whole="--whole" in sys.argv[1:]))
