# Entry points for people and CI. Each target installs what it needs first.
BUILD      ?= build
ASAN_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 60
LIMITS_ATTACK_SECONDS ?= 15
DATA_DIR   ?= $(CURDIR)/data
JOBS       ?= $(shell nproc)
# ON turns compiler warnings into errors (.ci/run sets it).
WERROR     ?= OFF
RUN_ARGS   ?=

.PHONY: all deps configure build run test test-sanitize bench fuzz soak attack attack-limits deb package-test clean

all: build

deps:
	@./scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAV_WERROR=$(WERROR)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	mkdir -p $(DATA_DIR)
	./$(BUILD)/src/tavregistry --data-dir $(DATA_DIR) $(RUN_ARGS)

test: build
	./scripts/run-tests $(BUILD)

$(ASAN_BUILD)/build.ninja: | deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAV_SANITIZE=ON -DTAV_BUILD_BENCH=OFF -DTAV_WERROR=$(WERROR)

test-sanitize: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ./scripts/run-tests $(ASAN_BUILD)

bench: build
	./scripts/run-bench $(BUILD)

# libFuzzer needs clang and its runtime; only this target installs them. Each
# target runs FUZZ_SECONDS; a crash fails it and keeps its input in the corpus.
$(FUZZ_BUILD)/build.ninja:
	./scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAV_FUZZ=ON -DTAV_BUILD_BENCH=OFF -DTAV_WERROR=$(WERROR)

fuzz: $(FUZZ_BUILD)/build.ninja
	./scripts/install-deps fuzz
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-targets
	./scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

soak: build
	./$(BUILD)/bench/soak/tavsoak --registry ./$(BUILD)/src/tavregistry --seconds $(SOAK_SECONDS)

# Attacks and faults against the built registry, a few minutes at most; give
# ATTACK_BEFORE=path/to/an/older/tavregistry for a before/after table.
ATTACK_BEFORE ?=
ATTACK_SECONDS ?= 5
attack: build
	python3 bench/attack/run_attack.py --seconds $(ATTACK_SECONDS) \
	  $(if $(ATTACK_BEFORE),before=$(ATTACK_BEFORE)) after=./$(BUILD)/src/tavregistry

# One address against the registry, per-address limits off and on (docs/reliability.md).
attack-limits: build
	./$(BUILD)/bench/soak/tavattack --registry ./$(BUILD)/src/tavregistry --seconds $(LIMITS_ATTACK_SECONDS)

# Debian packages (tavregistry-daemon, tavregistry) into dist/, built in build-deb/.
deb: deps
	./scripts/build-deb 2

# Builds, installs, runs and purges the packages (as root).
package-test: deps
	./scripts/package-test

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) build-deb dist
