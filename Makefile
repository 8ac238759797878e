# Two commands do all set-up on a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts the updater
#   make test   installs what is missing, builds and runs every test
# and one for those who only want the application:
#   make package   builds build/zel-updater_<version>_<arch>.deb (then: apt install ./build/zel-updater_*.deb)
BUILD ?= build
JOBS ?= 2
# SIMULATE=auto: simulated devices when no USB serial or HID device is attached.
SIMULATE ?= auto
FUZZ_SECONDS ?= 15
# The sanitizer pass: every test built with ASan and UBSan in its own folder.
# Tests labelled no-sanitizer are left out of it (CTest -LE takes a regular
# expression).
SANITIZE_BUILD ?= build-asan
SANITIZE_EXCLUDE ?= no-sanitizer

.PHONY: all deps configure build run package test sanitize fuzz-smoke fuzz bench bench-ethernet bench-fleet clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@scripts/run.sh $(BUILD) $(SIMULATE)

package: build
	cd $(BUILD) && cpack -G DEB

# The fuzz smoke run and the sanitizer pass go first so that CTest's summary
# of the plain build closes the output.
test: build
	$(MAKE) --no-print-directory fuzz-smoke
	$(MAKE) --no-print-directory sanitize
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS) --timeout 300

sanitize: deps
	@[ -f $(SANITIZE_BUILD)/build.ninja ] || cmake -S . -B $(SANITIZE_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS) --timeout 600 -LE '$(SANITIZE_EXCLUDE)'

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
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz build-bench
