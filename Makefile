# Front door: `make test` installs what is missing, builds and runs every test;
# `make run` plays the built-in test source (see README).
JOBS ?= $(shell nproc)
BUILD ?= build

.PHONY: deps build test test-asan test-tsan run bench clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure $(CTEST_ARGS)

# Address and undefined-behaviour sanitizers over the whole suite.
test-asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_ARGS="-DTARNVIK_SANITIZE=asan"

# ThreadSanitizer over the tests labelled "tsan" (the concurrent ones).
test-tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan CMAKE_ARGS="-DTARNVIK_SANITIZE=tsan" CTEST_ARGS="-L tsan"

run: build
	@scripts/run-demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

clean:
	rm -rf build build-asan build-tsan
