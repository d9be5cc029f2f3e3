# Front door: `make run` runs the main job on the demo songs, `make test` runs every test.
BUILD := build/release
CLI   := $(BUILD)/src/cli/korvanta-cli
DEMO  := demo

FUZZ_SECONDS ?= 60

.PHONY: all setup configure build demo run run-cli screenshots install test test-release test-asan test-fuzz fuzz fuzz-build bench clean

all: build

setup:
	@scripts/setup

configure: setup
	@cmake --preset release >/dev/null

build: configure
	@cmake --build --preset release

demo: setup
	@scripts/make-demo-songs $(DEMO)

APP   := $(BUILD)/src/korvanta

# The main job: the window, with the demo songs already imported. Without a display (no
# DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) the same work runs headless through the command
# line: measure the demo songs, then master them with the "Club" preset into out/.
run: build demo
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  exec $(APP) $(DEMO); \
	else \
	  echo "make run: no display to open the window on; running the headless demo with korvanta-cli instead"; \
	  $(MAKE) --no-print-directory run-cli; \
	fi

run-cli: build demo
	@echo "== Measuring the demo songs"
	@$(CLI) analyze $(DEMO)/*.wav $(DEMO)/*.aif* $(DEMO)/*.flac $(DEMO)/*.ogg $(DEMO)/*.mp3 $(DEMO)/*.m4a $(DEMO)/*.aac
	@echo
	@echo "== Mastering them (preset Club, -10 LUFS) into out/"
	@$(CLI) master --preset Club --out out $(DEMO)

screenshots: build demo
	@scripts/screenshots screenshots

install: build
	@cmake --install $(BUILD)

# The whole suite: the optimised build, then the core again under AddressSanitizer and UBSan,
# then a few seconds of each fuzz target on its seeds.
test: test-release test-asan test-fuzz

test-release: build
	@ctest --preset release

test-asan: setup
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

fuzz-build: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz

test-fuzz: fuzz-build
	@ctest --preset fuzz

# Every fuzz target for FUZZ_SECONDS seconds (make fuzz FUZZ_SECONDS=600), one after another.
fuzz: fuzz-build
	@scripts/run-fuzzers --seconds $(FUZZ_SECONDS) build/fuzz

bench: build demo
	@scripts/run-benchmarks $(BUILD) $(DEMO)

clean:
	rm -rf build
