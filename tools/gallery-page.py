#!/usr/bin/env python3
"""Writes the gallery's page of `make web`: DIST/index.html, a grid of the gallery's examples
(each a thumbnail linking to DIST/gallery/<name>/index.html) and the demonstration's, Breakout's
and the platformer's pages. Each thumbnail is a frame of the example's recorded session, taken by
the engine as the Linux build replays it (kastrel-replay --frames), made smaller by
kastrel_thumbnail into DIST/gallery/<name>/thumbnail.png.
Usage: tools/gallery-page.py DIST LINUX_RELEASE_BUILD
An example whose page, session or frame is missing fails the run with its reason (status 1)."""
import html, os, re, shutil, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GALLERY = os.path.join(ROOT, "examples", "gallery")
WIDTH = 240  # the thumbnails' width: half the examples' windows


def examples():
    """The gallery's list, as its CMakeLists.txt keeps it, with each example's header comment."""
    text = open(os.path.join(GALLERY, "CMakeLists.txt"), encoding="utf-8").read()
    names = re.search(r"^set\(KASTREL_GALLERY\n(.*?)\)", text, re.S | re.M).group(1).split()
    found = []
    for name in names:
        comment = []
        for line in open(os.path.join(GALLERY, f"{name}.cpp"), encoding="utf-8"):
            if not line.startswith("//"):
                break
            comment.append(line[2:].strip())
        title, _, about = " ".join(comment).partition(": ")
        found.append((name, title, about))
    return found


def thumbnail(build, name, out):
    """The last frame the replay writes (one every 10 passes), made smaller."""
    session = os.path.join(GALLERY, "sessions", f"{name}.kst")
    game = os.path.join(build, "examples", "gallery", name, f"gallery_{name}")
    frames = tempfile.mkdtemp(prefix="kastrel-gallery-frames-")
    try:
        env = dict(os.environ, SDL_AUDIODRIVER="dummy")
        run = subprocess.run([os.path.join(build, "tools", "kastrel-replay"), "--frames", frames,
                              "--every", "10", session, game], env=env, capture_output=True,
                             text=True, timeout=300)
        shots = sorted(f for f in os.listdir(frames) if f.endswith(".png"))
        if run.returncode != 0 or not shots:
            raise RuntimeError(f"{name}: the replay of {session} wrote no frame (status "
                               f"{run.returncode}): {run.stderr.strip()[-400:]}")
        subprocess.run([os.path.join(build, "tools", "kastrel_thumbnail"),
                        os.path.join(frames, shots[-1]), out, str(WIDTH)], check=True, timeout=60)
    finally:
        shutil.rmtree(frames, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    dist, build = sys.argv[1], sys.argv[2]
    cards = []
    try:
        for name, title, about in examples():
            folder = os.path.join(dist, "gallery", name)
            if not os.path.isfile(os.path.join(folder, "index.html")):
                raise RuntimeError(f"{name}: no page in {folder} (make web builds it)")
            thumbnail(build, name, os.path.join(folder, "thumbnail.png"))
            cards.append(f'<a class="card" href="gallery/{name}/index.html">'
                         f'<img src="gallery/{name}/thumbnail.png" width="{WIDTH}" alt="{html.escape(title)}">'
                         f'<b>{html.escape(title)}</b><span>{html.escape(about)}</span></a>')
    except (RuntimeError, subprocess.SubprocessError, OSError) as failure:
        print(f"gallery-page: {failure}", file=sys.stderr)
        return 1
    games = "".join(f'<li><a href="{page}/index.html">{label}</a></li>' for page, label in (
        ("demo", "The demonstration"), ("breakout", "Breakout"), ("platformer", "The platformer"))
        if os.path.isfile(os.path.join(dist, page, "index.html")))
    with open(os.path.join(dist, "index.html"), "w", encoding="utf-8") as out:
        out.write(f"""<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>Kastrel: the gallery</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body {{ font: 15px sans-serif; background: #1c2230; color: #e8e8f0; margin: 2em; }}
a {{ color: #ffd040; }}
.grid {{ display: grid; grid-template-columns: repeat(auto-fill, minmax({WIDTH + 16}px, 1fr)); gap: 16px; }}
.card {{ display: block; background: #2a3244; padding: 8px; text-decoration: none; color: inherit; }}
.card img {{ display: block; image-rendering: pixelated; }}
.card b {{ display: block; margin: 6px 0 2px; color: #ffd040; }}
.card span {{ font-size: 13px; color: #b0b8c8; }}
</style></head><body>
<h1>Kastrel</h1>
<p>Games:</p><ul>{games}</ul>
<h2>The gallery</h2>
<p>Small examples of one file each, in <code>examples/gallery/</code>. Each picture is a frame of
the example's recorded session; a click opens its page.</p>
<div class="grid">
{chr(10).join(cards)}
</div>
</body></html>
""")
    print(os.path.join(dist, "index.html"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
