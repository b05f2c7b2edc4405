#!/usr/bin/env python3
"""The bunnymark in pygame, for kastrel_bench (information only: the loop is Python's).

Usage: bunnymark.py SPRITE.png. Prints pygame's and SDL's versions, then reads sprite counts on
standard input, one a line, and answers each with its fastest frame in seconds: clear the
800 x 450 frame, move every sprite (bouncing off the edges) and blit it, over at least five
frames and a quarter of a second.
"""
import os
import random
import sys
import time

os.environ.setdefault("SDL_VIDEODRIVER", "dummy")
os.environ["PYGAME_HIDE_SUPPORT_PROMPT"] = "1"
import pygame  # noqa: E402

WIDTH, HEIGHT, SIZE = 800, 450, 32
RIGHT, BOTTOM = WIDTH - SIZE, HEIGHT - SIZE


def main():
    pygame.display.init()
    pygame.display.set_mode((1, 1))
    frame = pygame.Surface((WIDTH, HEIGHT), 0, 32)
    bunny = pygame.image.load(sys.argv[1]).convert_alpha()
    rng = random.Random(31)
    sprites = []
    sdl = ".".join(str(v) for v in pygame.get_sdl_version())
    print(f"pygame {pygame.version.ver} on SDL {sdl}", flush=True)

    def draw(n):
        frame.fill((0x40, 0x50, 0x60))
        for s in sprites[:n]:
            s[0] += s[2]
            s[1] += s[3]
            if s[0] < 0 or s[0] > RIGHT:
                s[2] = -s[2]
                s[0] = -s[0] if s[0] < 0 else 2 * RIGHT - s[0]
            if s[1] < 0 or s[1] > BOTTOM:
                s[3] = -s[3]
                s[1] = -s[1] if s[1] < 0 else 2 * BOTTOM - s[1]
        frame.blits([(bunny, (int(s[0]), int(s[1]))) for s in sprites[:n]], False)

    for line in sys.stdin:
        n = int(line)
        while len(sprites) < n:
            sign = rng.choice((-1, 1))
            sprites.append([rng.uniform(0, RIGHT), rng.uniform(0, BOTTOM),
                            sign * rng.uniform(0.5, 4), rng.uniform(-4, 4)])
        draw(n)
        best, frames, start = float("inf"), 0, time.perf_counter()
        while frames < 5 or (time.perf_counter() - start < 0.25 and frames < 200):
            before = time.perf_counter()
            draw(n)
            best = min(best, time.perf_counter() - before)
            frames += 1
        print(best, flush=True)


if __name__ == "__main__":
    main()
