# Quillfen's two everyday commands: `make run` and `make test`.
# Both install missing Debian packages, configure CMake into build/ and build.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
WINDOWS_BUILD ?= build-windows
PACKAGE_BUILD ?= build-package
# The export the Windows window converts in its test.
WINDOWS_EXPORT ?= ../shared/corpus/zimbra-export
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps configure build run test test-asan test-tsan test-windows fuzz bench clean format \
        check-format tidy

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./scripts/run-window $(BUILD)

test: check-format build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@test -d ../shared/corpus/zimbra-export || echo "*** ../shared/corpus/zimbra-export is absent:" \
	  "the tests on its real messages were skipped (see the ctest list above) ***"
	@$(MAKE) --no-print-directory tidy
	@$(MAKE) --no-print-directory test-package
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory test-windows
	@bash scripts/fuzz 60

# The core's tests once more, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLFEN_SANITIZE=ON \
	  -DQUILLFEN_BUILD_UI=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && CRASH_STATES=400 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS) -L 'unit|flow'

# The core's tests once more, under ThreadSanitizer: the reading thread and
# the archive's decompression thread share state with the converting thread. GLib's slice allocator hands memory between threads
# in ways the sanitizer cannot follow, so it is told to use malloc, and the
# library calls that GLib makes itself (strcmp, memset) are not checked:
# GLib is not instrumented, so its own locks are invisible to the sanitizer.
# tests/tsan.supp explains each suppression.
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLFEN_SANITIZE_THREADS=ON \
	  -DQUILLFEN_BUILD_UI=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && CRASH_STATES=200 G_SLICE=always-malloc TSAN_OPTIONS="second_deadlock_stack=1 ignore_noninstrumented_modules=1 \
	  suppressions=$(CURDIR)/tests/tsan.supp" ctest --output-on-failure -j $(JOBS) -L 'unit|flow'

# Every C++ file as clang-format would write it (`make format` rewrites them),
# and every include pointing down the layers (scripts/check-layers).
check-format:
	@bash scripts/install-deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	@python3 scripts/check-layers

# clang-tidy's bugprone, performance and concurrency checks (.clang-tidy) over
# the programs' own files, from the compile commands of the main build.
tidy: build
	@run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) \
	  '$(CURDIR)/(os|mbox|source|destination|conversion|cli|ui)/' >$(BUILD)/tidy.log 2>&1 || \
	  { grep -E "(warning|error):" $(BUILD)/tidy.log | sort -u; exit 1; }

# The whole program for Windows, built with mingw-w64 over the libraries
# (Qt, GMime, GLib, libarchive...) that scripts/windows-deps cross-builds from
# Debian's source packages into a prefix kept outside the clone and reused:
# quillfen.exe, quillfen-cli.exe and every test program in $(WINDOWS_BUILD),
# and the installer $(WINDOWS_BUILD)/Quillfen-<version>-setup.exe.
VERSION := $(shell sed -n 's/^project.Quillfen VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WINDOWS_PREFIX_OF = $$(QUILLFEN_WINDOWS_JOBS=$(JOBS) bash scripts/windows-deps)

.PHONY: windows windows-deps
windows:
	@bash scripts/install-deps windows
	@prefix=$(WINDOWS_PREFIX_OF) && \
	  cmake -S . -B $(WINDOWS_BUILD) --toolchain cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	    -DQUILLFEN_PORTABLE_ONLY=OFF -DQUILLFEN_HELP_FROM_SOURCE=OFF -DQUILLFEN_WINDOWS_PREFIX=$$prefix \
	    >/dev/null && \
	  cmake --build $(WINDOWS_BUILD) -j $(JOBS) && \
	  bash packaging/windows/build-installer $(WINDOWS_BUILD) $$prefix $(WINDOWS_BUILD)

# The Windows build under Wine: the core's tests and the CLI against the
# Linux build's mailboxes (scripts/test-windows), the window driven through
# three conversions as the installer lays it out, with its screenshots kept
# in $(WINDOWS_BUILD)/screenshots (scripts/test-windows-window), and the
# installer installed, used and removed again
# (packaging/windows/test-installer).
test-windows: windows build
	@prefix=$(WINDOWS_PREFIX_OF) && sample=$(WINDOWS_EXPORT) && \
	  if [ ! -d "$$sample" ]; then \
	    sample=$(WINDOWS_BUILD)/generated-export && rm -rf $$sample && \
	    $(BUILD)/bench/gen_export $$sample --messages 300 --folders 6 >/dev/null; \
	  fi && \
	  bash scripts/test-windows $(WINDOWS_BUILD) $$prefix $(BUILD)/quillfen-cli $(JOBS) && \
	  bash scripts/test-windows-window $(WINDOWS_BUILD)/stage/bin $$prefix $(BUILD)/quillfen-cli \
	    $$sample $(WINDOWS_BUILD)/screenshots && \
	  bash packaging/windows/test-installer $(WINDOWS_BUILD)/Quillfen-$(VERSION)-setup.exe

# The libraries alone, printing the prefix they are in.
windows-deps:
	@QUILLFEN_WINDOWS_JOBS=$(JOBS) bash scripts/windows-deps

# $(PACKAGE_BUILD)/quillfen-cli_<version>_<arch>.deb and quillfen_..., with
# their -dbgsym packages: dpkg-buildpackage over debian/, on a copy of the
# source tree.
.PHONY: package test-package
package:
	@bash scripts/install-deps package
	@bash packaging/build-package $(PACKAGE_BUILD) $(JOBS)

# The packages linted, their programs run, installed, converting the corpus,
# and purged again.
test-package: package
	@bash packaging/test-package $(PACKAGE_BUILD)

fuzz: deps
	@bash scripts/fuzz $(if $(FUZZ_SECONDS),$(FUZZ_SECONDS),300)

bench: deps
	@bash bench/run

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WINDOWS_BUILD) $(PACKAGE_BUILD)
