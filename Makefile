# Front door: `make run` runs the main job on the demo songs, `make test` runs every test.
BUILD := build/release
CLI   := $(BUILD)/src/cli/korvanta-cli
DEMO  := demo

FUZZ_SECONDS ?= 60

.PHONY: all setup configure build demo run test test-release test-asan test-fuzz fuzz fuzz-build bench clean

all: build

setup:
	@scripts/setup

configure: setup
	@cmake --preset release >/dev/null

build: configure
	@cmake --build --preset release

demo: setup
	@scripts/make-demo-songs $(DEMO)

# The main job until the window exists: measure the demo songs, then master them with the
# "Club" preset into out/ as WAV files.
run: build demo
	@echo "== Measuring the demo songs"
	@$(CLI) analyze $(DEMO)/*.wav $(DEMO)/*.aif* $(DEMO)/*.flac $(DEMO)/*.ogg $(DEMO)/*.mp3 $(DEMO)/*.m4a $(DEMO)/*.aac
	@echo
	@echo "== Mastering them (preset Club, -10 LUFS) into out/"
	@$(CLI) master --preset Club --out out $(DEMO)

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
