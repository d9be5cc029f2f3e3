# Front door: `make run` runs the main job on the demo songs, `make test` runs every test.
BUILD := build/release
CLI   := $(BUILD)/src/cli/korvanta-cli
DEMO  := demo

.PHONY: all setup configure build demo run test test-release test-asan bench clean

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

# The whole suite: the optimised build, then the core again under AddressSanitizer and UBSan.
test: test-release test-asan

test-release: build
	@ctest --preset release

test-asan: setup
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

bench: build demo
	@scripts/run-benchmarks $(BUILD) $(DEMO)

clean:
	rm -rf build
