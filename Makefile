# The two commands a newcomer needs: `make demo` and `make test`.
# Both install missing Debian packages first (scripts/deps.sh).

CMAKE_FLAGS := -G Ninja -DNOLU_WERROR=ON
CTEST := ctest --output-on-failure --no-tests=error -j2

.PHONY: all deps build demo test test-release test-asan test-tsan bench compare clean

all: build

deps:
	@./scripts/deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build build

demo: build
	./build/cli/nolukey demo

test: deps
	$(MAKE) --no-print-directory test-release test-asan test-tsan

test-release:
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build build
	cd build && $(CTEST)

# Address and undefined-behaviour sanitizers, with leak checking, over every test.
test-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOLU_SANITIZE=address,undefined
	cmake --build build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# Thread sanitizer over every test.
test-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOLU_SANITIZE=thread
	cmake --build build-tsan
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST)

bench: build
	./build/bench/keying_bench

# Matte quality and speed against FFmpeg's colorkey and chromakey + despill; rewrites
# docs/comparison.md and docs/comparison.png. Takes a few minutes; not part of `make test`.
compare: build
	./bench/compare/run.sh

clean:
	rm -rf build build-asan build-tsan
