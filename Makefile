# Pavrel: set-up, build, run and test on Debian 12. `make run` and `make test` do everything.
JOBS      ?= $(shell nproc)
BUILD     ?= build
CMAKE_ARGS ?=
export XDG_RUNTIME_DIR ?= /tmp/pavrel-runtime-$(shell id -u)

.PHONY: all deps configure build run test bench bench-footage asan-test tsan-test fuzz install clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@mkdir -p -m 0700 $(XDG_RUNTIME_DIR)
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Address and undefined-behaviour sanitizers over the whole suite.
asan-test: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPAVREL_SANITIZE=address,undefined -DPAVREL_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the threading tests.
tsan-test: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DPAVREL_SANITIZE=thread -DPAVREL_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target threading_tests
	cd build-tsan && ctest --output-on-failure -L threading

# libFuzzer targets, FUZZ_SECONDS each, over the seed corpora in fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAVREL_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# Benchmarks compare against OpenCV, which only they need.
bench: 
	@scripts/install-deps.sh libopencv-dev
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	@scripts/run-benchmarks.sh build-bench

# The trackers on the repository's clips with hand truth, beside OpenCV's CamShift; pictures
# in bench/footage/.
bench-footage:
	@scripts/install-deps.sh libopencv-dev
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target footage-bench
	PAVREL_MEDIA_DIR=$(CURDIR)/media build-bench/bench/footage/footage-bench --pictures bench/footage

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-bench
