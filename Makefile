# Quillfen's two everyday commands: `make run` and `make test`.
# Both install missing Debian packages, configure CMake into build/ and build.

BUILD      ?= build
ASAN_BUILD ?= build-asan
WINDOWS_BUILD ?= build-windows
PACKAGE_BUILD ?= build-package
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test test-asan test-windows fuzz bench clean format

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run-window $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-package
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-windows
	@bash scripts/fuzz 60

# The core's tests once more, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLFEN_SANITIZE=ON \
	  -DQUILLFEN_BUILD_UI=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS) -L core

# The portable half of the core and its tests, built for Windows with
# mingw-w64 and run under Wine.
test-windows:
	@bash scripts/install-deps windows
	@cmake -S . -B $(WINDOWS_BUILD) --toolchain cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUILLFEN_PORTABLE_ONLY=ON >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	@bash scripts/test-windows $(WINDOWS_BUILD) $(JOBS)

# build/quillfen_<version>_<arch>.deb: a Release build of both programs in
# $(PACKAGE_BUILD)/, stripped, with man pages and desktop metadata.
.PHONY: package test-package
package:
	@bash scripts/install-deps package
	@bash packaging/build-package $(PACKAGE_BUILD) $(BUILD)

# The package linted, its programs run from it, installed and removed again.
test-package: package
	@bash packaging/test-package $(BUILD)

fuzz: deps
	@bash scripts/fuzz $(if $(FUZZ_SECONDS),$(FUZZ_SECONDS),300)

bench: deps
	@bash bench/run

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WINDOWS_BUILD) $(PACKAGE_BUILD)
