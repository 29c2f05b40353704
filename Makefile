# The two commands a newcomer needs: `make demo` and `make test`.
# Both install missing Debian packages first (scripts/deps.sh).

CMAKE_FLAGS := -G Ninja -DNOLU_WERROR=ON
CTEST := ctest --output-on-failure --no-tests=error -j2

# The plugin DLLs for 32- and 64-bit Windows land here.
WINDOWS_DIST := dist/windows
WINDOWS_FLAGS := $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DNOLU_TOOLS=OFF -DNOLU_WINDOWS_CHECKS=ON

.PHONY: all deps build demo test test-release test-asan test-tsan test-x86 test-windows windows bench compare clean

all: build

deps:
	@./scripts/deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build build

demo: build
	./build/cli/nolukey demo

test:
	@./scripts/deps.sh test
	$(MAKE) --no-print-directory test-release test-asan test-tsan test-x86 test-windows

test-release:
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release
	cmake --build build
	cd build && $(CTEST)

# Address and undefined-behaviour sanitizers, with leak checking, over every test.
test-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOLU_SANITIZE=address,undefined -DNOLU_BENCH=OFF
	cmake --build build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

# Thread sanitizer over every test.
test-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOLU_SANITIZE=thread -DNOLU_BENCH=OFF
	cmake --build build-tsan
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CTEST)

# The keying tests as 32-bit x86 code (-m32 -msse2 -mfpmath=sse), the code generation of
# the plugin's 32-bit host, where x87 arithmetic would change the bytes. They run under
# qemu-i386, since many machines' kernels run no 32-bit programs.
test-x86:
	cmake -S . -B build-linux-x86 $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/linux-i686.cmake -DNOLU_TOOLS=OFF -DNOLU_KEYING_TESTS_ONLY=ON
	cmake --build build-linux-x86
	cd build-linux-x86 && $(CTEST)

# Cross-builds the plugin DLL for 32-bit (x86) and 64-bit (x64) Windows with mingw-w64.
windows:
	@./scripts/deps.sh windows
	cmake -S . -B build-win-x86 $(WINDOWS_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-i686.cmake
	cmake --build build-win-x86
	cmake -S . -B build-win-x64 $(WINDOWS_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-x86_64.cmake
	cmake --build build-win-x64
	cmake -E copy build-win-x86/plugin/NoluMultiColorKeying.dll $(WINDOWS_DIST)/x86/NoluMultiColorKeying.dll
	cmake -E copy build-win-x64/plugin/NoluMultiColorKeying.dll $(WINDOWS_DIST)/x64/NoluMultiColorKeying.dll
	@echo "Windows plugin DLLs: $(WINDOWS_DIST)/x86 (32-bit) and $(WINDOWS_DIST)/x64 (64-bit)"

# The DLLs' export and import tables, x87-free keying code, and the 64-bit DLL under Wine.
test-windows: windows
	cd build-win-x86 && $(CTEST)
	cd build-win-x64 && $(CTEST)

bench: build
	./build/bench/keying_bench
	./build/bench/cli_bench

# Matte quality and speed against FFmpeg's colorkey and chromakey + despill; rewrites
# docs/comparison.md and docs/comparison.png. Takes a few minutes; not part of `make test`.
compare: build
	./bench/compare/run.sh

clean:
	rm -rf build build-asan build-tsan build-linux-x86 build-win-x86 build-win-x64 $(WINDOWS_DIST)
