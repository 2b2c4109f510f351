# make test  - install missing packages, build with ASan+UBSan, run the whole suite
# make demo  - build, record ten seconds of the test pattern into demo.asf, then probe it
# make bench - release build and the benchmarks
JOBS ?= 2
BUILD := build
BUILD_TSAN := build-tsan
BUILD_FUZZ := build-fuzz
BUILD_RELEASE := build-release

.PHONY: deps build test test-unit test-tsan test-fuzz demo bench clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELISTRA_SANITIZE=address
	cmake --build $(BUILD) -j$(JOBS)

test-unit: build
	cd $(BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j$(JOBS) -LE threads

# The threaded tests again under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELISTRA_SANITIZE=thread
	cmake --build $(BUILD_TSAN) -j$(JOBS)
	cd $(BUILD_TSAN) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$(JOBS) -L threads

# libFuzzer targets, each for a bounded time; crashes found before are replayed first.
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S tests/fuzz -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_FUZZ) -j$(JOBS)
	tests/fuzz/run.sh $(BUILD_FUZZ)

test: test-unit test-tsan test-fuzz

# Ten seconds of the built-in test pattern and tone, recorded through the muxer filter.
demo: build
	$(BUILD)/bin/pelistra record --duration 10 -y -o demo.asf
	$(BUILD)/bin/pelistra probe demo.asf

bench: deps
	cmake -S . -B $(BUILD_RELEASE) -DCMAKE_BUILD_TYPE=Release -DPELISTRA_BUILD_BENCH=ON -DPELISTRA_BUILD_TESTS=OFF
	cmake --build $(BUILD_RELEASE) -j$(JOBS)
	bench/run.sh $(BUILD_RELEASE)

clean:
	rm -rf $(BUILD) $(BUILD_TSAN) $(BUILD_FUZZ) $(BUILD_RELEASE) build-dev
