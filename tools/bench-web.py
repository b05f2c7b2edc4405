#!/usr/bin/env python3
"""The bunnymark in the browser (`make bench-web`): the engine's page (bench/bunnymark_page.cpp,
its SSE2 loops on WebAssembly's SIMD) and SDL's own renderer drawing the same sprites
(bench/bunnymark_sdl_page.cpp), each in a fresh headless Chromium driven through the DevTools
protocol, then the same program built for Linux on the SSE2 loops, on this machine in the same
run. Prints the sprites each fits in a 16.7 ms frame and the ratios.
Usage: tools/bench-web.py WEB_BENCH_DIR LINUX_PROGRAM   (exit status 0: measured, 1: failed)"""
import functools, http.server, importlib.util, json, os, signal, subprocess, sys, tempfile, \
    threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_spec = importlib.util.spec_from_file_location("web_pages", f"{ROOT}/tools/test-web-pages.py")
web_pages = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(web_pages)

SECONDS = 600  # for the whole run; a page that never ends must not hang it


def results_of(lines):
    found = []
    for line in lines:
        if line.startswith("{"):
            found.append(json.loads(line))
        elif line != "end":
            print(f"  {line}")
    return found


def page(base, program, gpu=("--disable-gpu",)):
    browser = web_pages.Browser(gpu)  # a fresh profile and browser for each page
    try:
        version = browser.call("Browser.getVersion")["product"]
        browser.page("Page.enable")
        browser.page("Page.navigate", url=f"{base}/bunnymark.html?program={program}")
        browser.wait_for("window.lines && lines.indexOf('end') >= 0", SECONDS, program)
        return version, results_of(browser.eval("lines"))
    finally:
        browser.close()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 1
    web_dir, native = sys.argv[1], sys.argv[2]
    if not os.access(web_pages.CHROMIUM, os.X_OK):
        print(f"bench-web: no Chromium at {web_pages.CHROMIUM}")
        return 1
    signal.alarm(SECONDS)

    class Quiet(http.server.SimpleHTTPRequestHandler):
        extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                          ".wasm": "application/wasm"}

        def log_message(self, *args):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=web_dir))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    rows = []
    try:
        version, ours = page(base, "kastrel_bunnymark_page")
        rows += ours
        rows += page(base, "kastrel_bunnymark_sdl_page")[1]
        # SDL's OpenGL ES renderer on WebGL, where the build has it: with no GPU here, WebGL is
        # Chromium's software GL.
        if os.path.exists(os.path.join(web_dir, "kastrel_bunnymark_sdl_gl_page.js")):
            rows += page(base, "kastrel_bunnymark_sdl_gl_page",
                         ("--use-angle=swiftshader", "--enable-unsafe-swiftshader"))[1]
        out = subprocess.run([native, "SSE2"], capture_output=True, text=True, timeout=SECONDS)
        linux = results_of(out.stdout.splitlines())
        for r in linux:
            r["contender"] += " (Linux)"
        rows += linux
    except (AssertionError, RuntimeError, subprocess.SubprocessError, OSError) as failure:
        print(f"bench-web: FAILED: {failure}")
        return 1
    finally:
        server.shutdown()
    # Where a contender has several rows (SDL's renderers), its best is the one to beat.
    sprites = {}
    for r in rows:
        sprites[r["contender"]] = max(sprites.get(r["contender"], 0), r["sprites"])
    print(f"\nbunnymark, 32x32 sprites with ALPHA over an 800x450 frame, one thread; {version}")
    print(f"{'contender':32} {'sprites / 16.7 ms':>18} {'ns a sprite':>12}  detail")
    for r in rows:
        print(f"{r['contender']:32} {r['sprites']:18.0f} {r.get('ns_a_sprite', 0):12.1f}  "
              f"{r.get('detail', '')}; {r.get('fixed_ms', 0):.2f} ms a frame besides, a frame "
              f"of that many {r.get('check_ms', 0):.1f} ms")
    simd = sprites.get("kastrel wasm-simd128", 0)
    checks = [("browser (wasm-simd128) vs Linux SSE2", "kastrel SSE2 (Linux)", 0.5),
              ("browser (wasm-simd128) vs SDL's renderer in the browser", "SDL renderer", 2.0),
              ("wasm-simd128 vs the plain loops in the browser", "kastrel plain", None)]
    print()
    failed = not simd
    for text, other, aim in checks:
        if not sprites.get(other):
            print(f"{text}: not measured")
            failed = True
            continue
        ratio = simd / sprites[other]
        verdict = "" if aim is None else f" (aim >= {aim:g}: {'met' if ratio >= aim else 'MISSED'})"
        print(f"{text}: {ratio:.2f}x{verdict}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
