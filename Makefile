# The set-up commands of the README: `make demo`, `make test` and `make install`.
# Each installs the Debian packages it misses, then configures and builds with CMake and Ninja.

JOBS      ?= $(shell nproc)
BUILD     ?= build
CMAKE_GEN := -G Ninja
FUZZ_RUNS ?= 20000
FUZZ_SECONDS ?= 60

# `make install` puts a Release build of the engine (headers, library, CMake package, kastrel.pc)
# and the demonstration under PREFIX: /usr/local as root, otherwise ~/.local.
PREFIX    ?= $(if $(filter 0,$(shell id -u)),/usr/local,$(HOME)/.local)
# Extra configure arguments for the Release build, e.g. -DCMAKE_CXX_COMPILER_LAUNCHER=ccache.
CMAKE_ARGS ?=

.PHONY: reference install-sdk test-kit deps-kit web serve-web test-web bench-web deps-web windows test-windows bench-windows deps-windows install demo play play-platformer test bench fuzz pictures sounds deps-build deps-test deps-demo deps-bench test-asan test-tsan fuzz-smoke clean format

deps-build:
	@tools/install-deps.sh build
deps-test:
	@tools/install-deps.sh build test
deps-demo:
	@tools/install-deps.sh build demo
deps-bench:
	@tools/install-deps.sh build bench
deps-windows:
	@tools/install-deps.sh build windows
deps-web:
	@tools/install-deps.sh build web
deps-kit:
	@tools/install-deps.sh build windows web kit

# Debug build with AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors.
$(BUILD)/debug/build.ninja: deps-test
	cmake -S . -B $(BUILD)/debug $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DKASTREL_SANITIZE="address;undefined" -DKASTREL_WERROR=ON

# The threaded tests again under ThreadSanitizer.
test-tsan: deps-test
	cmake -S . -B $(BUILD)/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DKASTREL_SANITIZE=thread -DKASTREL_WERROR=ON
	cmake --build $(BUILD)/tsan -j $(JOBS)
	cd $(BUILD)/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest -L threaded --output-on-failure -j $(JOBS) --no-tests=ignore --repeat until-pass:2

# The PNG fuzz target for a short fixed number of inputs, so every test run exercises it.
fuzz-smoke: deps-test
	@if [ -f fuzz/run.sh ]; then FUZZ_RUNS=$(FUZZ_RUNS) fuzz/run.sh smoke; fi

test-asan: $(BUILD)/debug/build.ninja
	cmake --build $(BUILD)/debug -j $(JOBS)
	cd $(BUILD)/debug && ctest --output-on-failure -j $(JOBS) --repeat until-pass:2

# The ASan/UBSan run comes last so the run ends on CTest's summary.
test: test-tsan fuzz-smoke test-asan

# Builds and runs the game (in a private X server with a scripted session and screenshots when
# there is no desktop). The game's normal end is exit status 1, which counts as success here;
# any other status fails.
demo: deps-demo
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS)
	@status=0; tools/run-demo.sh $(BUILD)/release || status=$$?; \
	 if [ $$status -ne 1 ]; then exit $$status; fi

# The same for an example game (GAME=breakout, the default, or GAME=platformer), whose normal
# end is exit status 0.
GAME ?= breakout
play: deps-demo
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target $(GAME) kastrel_x11_screenshot
	tools/run-demo.sh $(BUILD)/release $(GAME)

play-platformer:
	@$(MAKE) --no-print-directory play GAME=platformer

# Never the Debug tree of `make test`: games would need its sanitizer run-time.
install: deps-build
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD)/release -j $(JOBS)
	cmake --install $(BUILD)/release --prefix "$(PREFIX)"
	@echo "Kastrel is installed under $(PREFIX)."

# The kit a game of your own builds with, for Linux, Windows and the Web, under SDK_PREFIX (or
# PREFIX when given): a folder per platform (x86_64-linux, x86_64-windows, wasm32-web), each the
# engine's installed package with the libraries it links and its toolchain file, and
# bin/kastrel-new with its template. It builds what it misses as `make windows` and `make web` do.
SDK_PREFIX ?= $(if $(filter command line environment,$(origin PREFIX)),$(PREFIX),$(HOME)/kastrel)
install-sdk: deps-kit
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD)/release -j $(JOBS) --target kastrel kastrel-demo breakout platformer kastrel-replay
	rm -rf "$(SDK_PREFIX)/x86_64-linux" "$(SDK_PREFIX)/x86_64-windows" "$(SDK_PREFIX)/wasm32-web"
	cmake --install $(BUILD)/release --prefix "$(SDK_PREFIX)/x86_64-linux"
	deps=$$(tools/build-windows-deps.sh) && \
	cmake -S . -B $(BUILD)/windows $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKASTREL_WINDOWS_DEPS="$$deps" $(CMAKE_ARGS) && \
	cmake --build $(BUILD)/windows -j $(JOBS) --target kastrel kastrel-demo breakout platformer kastrel-replay && \
	tools/copy-kit-libraries.sh "$$deps" "$(SDK_PREFIX)/x86_64-windows"
	cmake --install $(BUILD)/windows --prefix "$(SDK_PREFIX)/x86_64-windows"
	deps=$$($(WEB_ENV) tools/build-web-deps.sh) && \
	$(WEB_ENV) cmake -S . -B $(BUILD)/web-game $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake -DKASTREL_WEB_DEPS="$$deps" \
	  -DKASTREL_BUILD_TESTS=OFF $(CMAKE_ARGS) && \
	$(WEB_ENV) cmake --build $(BUILD)/web-game -j $(JOBS) --target kastrel && \
	tools/copy-kit-libraries.sh "$$deps" "$(SDK_PREFIX)/wasm32-web"
	cmake --install $(BUILD)/web-game --prefix "$(SDK_PREFIX)/wasm32-web"
	tools/install-kit.sh "$(SDK_PREFIX)"

# The kit as a new user meets it (tests/kit_test.sh): installed into a temporary folder, the
# engine's source and caches out of reach, a game from kastrel-new and the platformer from its
# own folder built, tested and packaged for the three platforms, the packages run.
test-kit: deps-kit deps-demo
	tests/kit_test.sh "$(CURDIR)" "$(BUILD)"

# Cross-builds the engine, the demonstration, Breakout, the platformer and kastrel-replay for 64-bit Windows with
# MinGW-w64, against libraries built once from Debian's sources (tools/build-windows-deps.sh,
# cached under ~/.cache/kastrel/windows-deps), and packs dist/kastrel-windows-x86_64.zip.
windows: deps-windows
	deps=$$(tools/build-windows-deps.sh) && \
	cmake -S . -B $(BUILD)/windows $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKASTREL_WINDOWS_DEPS="$$deps" \
	  -DKASTREL_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD)/windows -j $(JOBS) --target kastrel kastrel-demo breakout platformer kastrel-replay gallery
	tools/package-windows.sh $(BUILD)/windows dist/kastrel-windows-x86_64.zip

# The Windows build under Wine with a private Xvfb: its unit tests through CTest (Wine runs each
# test program), then tools/test-windows.sh: the demonstration end to end, Breakout sessions
# replayed across Linux and Windows, settings on Windows' file system.
WINEPREFIX ?= $(HOME)/.cache/kastrel/wine
test-windows: windows deps-demo
	cmake -S . -B $(BUILD)/windows -DKASTREL_BUILD_TESTS=ON
	cmake --build $(BUILD)/windows -j $(JOBS)
	@if [ ! -f "$(WINEPREFIX)/system.reg" ]; then mkdir -p "$(WINEPREFIX)" && \
	  WINEPREFIX="$(WINEPREFIX)" WINEDEBUG=-all xvfb-run -a wineboot -i >/dev/null 2>&1; fi
	@# A test hung under Wine is cut after 3 minutes and run again, as a failed one is.
	cd $(BUILD)/windows && WINEPREFIX="$(WINEPREFIX)" WINEDEBUG=-all \
	  xvfb-run -a ctest --output-on-failure -j $(JOBS) --repeat until-pass:2 --timeout 180
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target breakout platformer kastrel-replay kastrel_x11_screenshot kastrel_font_hashes
	KASTREL_WINEPREFIX="$(WINEPREFIX)" \
	  tools/test-windows.sh $(BUILD)/windows $(BUILD)/release dist/kastrel-windows-x86_64.zip

# The blit rows of the benchmarks built for Linux and for Windows, run on this machine (Windows'
# under Wine), each row's processor time compared between the two (tools/bench-windows.sh).
bench-windows: deps-windows deps-bench
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS) --target kastrel_blit_rows
	deps=$$(tools/build-windows-deps.sh) && bench=$$(tools/build-windows-deps.sh benchmark) && \
	cmake -S . -B $(BUILD)/windows-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DKASTREL_WINDOWS_DEPS="$$deps" \
	  -DCMAKE_PREFIX_PATH="$$bench" -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF \
	  -DKASTREL_BUILD_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD)/windows-bench -j $(JOBS) --target kastrel_blit_rows
	tools/bench-windows.sh $(BUILD)/bench/bench/kastrel_blit_rows \
	  $(BUILD)/windows-bench/bench/kastrel_blit_rows.exe

# Redraws the demonstration's pictures into demo/images and the platformer's into
# examples/platformer (commit them afterwards).
pictures: deps-demo
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target kastrel_make_pictures kastrel_make_platformer_art
	$(BUILD)/release/tools/kastrel_make_pictures demo/images
	$(BUILD)/release/tools/kastrel_make_platformer_art examples/platformer

# Synthesises the example games' sounds into examples/*/sounds (commit them afterwards).
sounds: deps-demo
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target kastrel_make_sounds
	$(BUILD)/release/tools/kastrel_make_sounds examples/breakout/sounds
	$(BUILD)/release/tools/kastrel_make_sounds examples/platformer/sounds platformer

bench: deps-bench
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)
	@if [ -x $(BUILD)/bench/bench/kastrel_bench ]; then $(BUILD)/bench/bench/kastrel_bench; \
	 else echo "No benchmarks are built yet."; fi
	@if [ -x $(BUILD)/bench/bench/kastrel_blit_cost ]; then \
	  bench/blit_cost.sh $(BUILD)/bench/bench/kastrel_blit_cost; fi

fuzz: deps-test
	@if [ -f fuzz/run.sh ]; then FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh long; \
	 else echo "No fuzz targets are built yet."; fi

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Regenerates the API reference (docs/reference/) from the public headers' comments; CTest's
# reference.up_to_date fails until it is run after a header's comment or signature changes.
reference:
	python3 tools/make-reference.py . docs/reference

clean:
	rm -rf $(BUILD)

# The engine built for the Web with Emscripten, against libraries built once from Debian's sources
# (tools/build-web-deps.sh, cached under ~/.cache/kastrel/web-deps), and its unit tests that need
# no Linux part, no thread and no death test, run under Node through CTest; then the pages of
# `make web` in headless Chromium (tools/test-web-pages.py), checked against the Linux release
# build of the same games (first frames, a recorded session). Debian's Emscripten
# needs Debian's Node modules on NODE_PATH.
WEB_ENV := NODE_PATH=/usr/share/nodejs
test-web: deps-web deps-demo
	deps=$$($(WEB_ENV) tools/build-web-deps.sh) && \
	$(WEB_ENV) cmake -S . -B $(BUILD)/web $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake -DKASTREL_WEB_DEPS="$$deps" \
	  -DKASTREL_BUILD_DEMO=OFF -DKASTREL_WERROR=ON $(CMAKE_ARGS)
	$(WEB_ENV) cmake --build $(BUILD)/web -j $(JOBS)
	cd $(BUILD)/web && $(WEB_ENV) ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory web
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target kastrel-demo breakout platformer kastrel_x11_screenshot kastrel_font_hashes
	tools/test-web-pages.py dist/web $(BUILD)/release $(BUILD)/web/tools

# The demonstration, Breakout and the platformer as pages: dist/web/demo/, breakout/ and
# platformer/, each an
# index.html with the game's .js, .wasm and packed data, to be served as plain files. The
# gallery's examples likewise in dist/web/gallery/<name>/, and dist/web/index.html linking them
# all, with a thumbnail of each example from its recorded session (tools/gallery-page.py, on the
# Linux release build).
GALLERY := $(shell sed -n '/^set(KASTREL_GALLERY$$/,/)/p' examples/gallery/CMakeLists.txt | sed '1d;s/[()]//g')
WEB_GAMES := demo:kastrel-demo examples/breakout:breakout examples/platformer:platformer \
  $(foreach name,$(GALLERY),examples/gallery/$(name):gallery_$(name))
web: deps-web
	deps=$$($(WEB_ENV) tools/build-web-deps.sh) && \
	$(WEB_ENV) cmake -S . -B $(BUILD)/web-game $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake -DKASTREL_WEB_DEPS="$$deps" \
	  -DKASTREL_BUILD_TESTS=OFF $(CMAKE_ARGS)
	$(WEB_ENV) cmake --build $(BUILD)/web-game -j $(JOBS) --target kastrel-demo breakout platformer gallery
	@rm -rf dist/web/gallery
	@for game in $(WEB_GAMES); do \
	  dir=$${game%%:*}; target=$${game##*:}; out=dist/web/$$(basename $$dir); \
	  case $$dir in examples/gallery/*) out=dist/web/gallery/$$(basename $$dir);; esac; \
	  rm -rf $$out && mkdir -p $$out && \
	  cp $(BUILD)/web-game/$$dir/index.html $(BUILD)/web-game/$$dir/$$target.js \
	     $(BUILD)/web-game/$$dir/$$target.wasm $(BUILD)/web-game/$$dir/$$target.data $$out/ || exit 1; \
	  echo "$$out/"; done
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DKASTREL_BUILD_TESTS=OFF
	cmake --build $(BUILD)/release -j $(JOBS) --target gallery kastrel-replay kastrel_thumbnail
	tools/gallery-page.py dist/web $(BUILD)/release

# The bunnymark in headless Chromium (tools/bench-web.py): the engine's page, whose SSE2 loops run
# on WebAssembly's SIMD, against the same program built for Linux on its SSE2 loops on this
# machine, and against SDL's own renderer drawing the same sprites in the same browser.
bench-web: deps-web deps-bench
	deps=$$($(WEB_ENV) tools/build-web-deps.sh) && gl=$$($(WEB_ENV) tools/build-web-deps.sh sdl-gl) && \
	$(WEB_ENV) cmake -S . -B $(BUILD)/web-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/emscripten-web.cmake -DKASTREL_WEB_DEPS="$$deps" \
	  -DKASTREL_WEB_SDL_GL="$$gl" \
	  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_BUILD_BENCH=ON $(CMAKE_ARGS)
	$(WEB_ENV) cmake --build $(BUILD)/web-bench -j $(JOBS) \
	  --target kastrel_bunnymark_page kastrel_bunnymark_sdl_page kastrel_bunnymark_sdl_gl_page
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DKASTREL_BUILD_TESTS=OFF -DKASTREL_BUILD_DEMO=OFF -DKASTREL_BUILD_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS) --target kastrel_bunnymark_page
	tools/bench-web.py $(BUILD)/web-bench/bench $(BUILD)/bench/bench/kastrel_bunnymark_page

# Serves dist/web on this machine only (PORT=8000 by default).
PORT ?= 8000
serve-web:
	@test -d dist/web || $(MAKE) --no-print-directory web
	@echo "Serving dist/web at http://127.0.0.1:$(PORT)/ (the gallery page, and each game and example); Ctrl+C stops."
	python3 -m http.server $(PORT) --bind 127.0.0.1 --directory dist/web
