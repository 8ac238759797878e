# Two commands do all set-up on a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts the updater
#   make test   installs what is missing, builds and runs every test
BUILD ?= build
JOBS ?= 2
# SIMULATE=auto: simulated devices when no USB serial or HID device is attached.
SIMULATE ?= auto
FUZZ_SECONDS ?= 15

.PHONY: all deps configure build run test fuzz-smoke fuzz bench bench-ethernet bench-fleet clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@scripts/run.sh $(BUILD) $(SIMULATE)

# The fuzz smoke run goes first so that CTest's summary closes the output.
test: build
	$(MAKE) --no-print-directory fuzz-smoke
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 300

# Each fuzz target for a short time under ASan and UBSan.
fuzz-smoke: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

# Longer fuzzing: make fuzz FUZZ_SECONDS=600
fuzz: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

bench: deps
	bench/run-bench.sh

# Needs root: its own network namespaces and a veth pair.
bench-ethernet: deps
	bench/run-ethernet-bench.sh

# "Program all" to 50 controllers over a veth pair; needs root like the above.
bench-fleet: deps
	bench/run-ethernet-bench.sh fleet

clean:
	rm -rf $(BUILD) build-fuzz build-bench
