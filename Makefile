# Norvane FW Updater: set-up, builds and tests on a Debian machine.
#
#   make deps    install the Debian packages that are missing (apt-get; sudo when not root)
#   make build   configure and build build/host (Linux, simulated PC) and build/windows (MinGW)
#   make test    deps, build, host tests (ctest), then the Wine system tests
#   make demo    deps, fwsim and fwimage (build/demo), then one silent run on the simulated PC
#                with its run log
#   make try-wine  deps, the Windows build, then the real exe silently on a virtual controller in
#                Wine (ARGS="..." replaces its switches, SCENARIO=FILE.json its controllers,
#                SETTING="KEY=VALUE ..." writes a Setting.ini, IMAGE_VERSION=X.YZ is the
#                image's version)
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := build
# Targets run one after the other; the builds themselves run in parallel (JOBS).
.NOTPARALLEL:
MAKEFLAGS += --no-print-directory

DEB_PACKAGES := cmake g++ libgtest-dev libgmock-dev g++-mingw-w64-x86-64 wine wine64 xvfb \
	icoutils nlohmann-json3-dev clang lld llvm libclang-rt-14-dev clang-tidy cppcheck clang-format \
	imagemagick x11-utils python3 osslsigncode openssl
JOBS ?= $(shell nproc)
HOST_DIR := build/host
WINDOWS_DIR := build/windows
DEMO_DIR := build/demo

.PHONY: deps build build-host build-windows test test-host test-wine demo clean \
	bench bench-wine soak fuzz lint release release-check mutants mutants-wine release-exe \
	release-package release-check-package try-wine

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' "$$p" 2>/dev/null | grep -q ' installed$$' || missing="$$missing $$p"; \
	done; \
	if [ -z "$$missing" ]; then echo "deps: all Debian packages present"; exit 0; fi; \
	sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	echo "deps: installing$$missing"; \
	$$sudo apt-get update; \
	DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y $$missing

build: build-host build-windows

build-host:
	@echo "==== build: host ($(HOST_DIR)) ===="
	cmake -S . -B $(HOST_DIR)
	cmake --build $(HOST_DIR) -j $(JOBS)

build-windows:
	@echo "==== build: Windows ($(WINDOWS_DIR)) ===="
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

# Both test steps run even when the first fails; the target fails when either failed.
test: deps build
	@status=0; \
	$(MAKE) --no-print-directory test-host || status=1; \
	$(MAKE) --no-print-directory test-wine || status=1; \
	if [ $$status -ne 0 ]; then echo "==== make test: FAILED ===="; else echo "==== make test: passed ===="; fi; \
	exit $$status

test-host:
	@echo "==== test: host (ctest in $(HOST_DIR)) ===="
	cd $(HOST_DIR) && ctest --output-on-failure --no-tests=error -j $(JOBS)

test-wine:
	@echo "==== test: Wine system tests ===="
	python3 tests/wine/wine_tests.py
	python3 tests/wine/dll_planting_tests.py
	python3 tests/wine/vdev_tests.py
	python3 tests/wine/window_tests.py
	python3 tests/wine/dpi_tests.py

RELEASE_DIR := build/release
RELEASE_CHECK_DIR := build/release-check
REPRODUCE_DIR := build/reproduce
# The version, from its one definition in ui/resource_ids.h.
VERSION = $(shell python3 release/make_docs.py version)
PACKAGE_NAME = NorvaneFwUpdater-$(VERSION).zip
RELEASE_EXE := $(WINDOWS_DIR)/NorvaneFwUpdater.exe

# SIGN_PASSWORD reaches release.py alone, in the two steps that sign (which hands it to
# osslsigncode on its standard input): no other program make starts (cmake, the compilers, the
# tests, ...) finds it in its environment.
unexport SIGN_PASSWORD
ifdef SIGN_PASSWORD
release-package release-check-package: export SIGN_PASSWORD := $(value SIGN_PASSWORD)
endif

# Signs the release exe and packages it into the folder $(1).
package_into = python3 release/release.py package --exe $(RELEASE_EXE) --out $(1)

# The package for customers: the exe signed with Authenticode (SIGN_PFX and SIGN_PASSWORD, else a
# throwaway test certificate; SIGN_TIMESTAMP_URL adds a time stamp), README.txt, Setting.ini and
# SHA256SUMS in $(RELEASE_DIR)/$(PACKAGE_NAME). docs/development.md, "Releases".
release: deps release-exe release-package

release-exe:
	@echo "==== release: build NorvaneFwUpdater.exe ($(WINDOWS_DIR)) ===="
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target NorvaneFwUpdater

release-package:
	@echo "==== release: sign and package ($(RELEASE_DIR)) ===="
	$(call package_into,$(RELEASE_DIR))

# What CI checks about a release, in folders of its own (build/release stays as make release left
# it): the generated docs are current; a package made as make release makes it, in
# $(RELEASE_CHECK_DIR), holds what it must and its signature verifies (and breaks with one altered
# byte); the release tools catch broken packages; and two clean builds in different folders give
# the same exe and the same package apart from the signature.
release-check: deps release-exe release-check-package
	@echo "==== release-check: docs/settings.md from docs/reference-data.json ===="
	python3 release/make_docs.py settings-md --check
	@echo "==== release-check: the package ===="
	python3 release/release.py check $(RELEASE_CHECK_DIR)/$(PACKAGE_NAME) --unsigned $(RELEASE_EXE) \
	  $$([ -f $(RELEASE_CHECK_DIR)/test-signing-certificate.pem ] && \
	     echo --cert $(RELEASE_CHECK_DIR)/test-signing-certificate.pem)
	@echo "==== release-check: the release tools ===="
	python3 tests/release/release_tests.py
	@echo "==== release-check: two clean builds in different folders ===="
	python3 release/release.py reproduce --work $(REPRODUCE_DIR)

release-check-package:
	@echo "==== release-check: sign and package ($(RELEASE_CHECK_DIR)) ===="
	$(call package_into,$(RELEASE_CHECK_DIR))

BENCH_DIR := build/bench

# One default silent update, measured: HID calls by kind, the pauses the protocol mandates against
# the pauses taken, CPU time, and the same run in real time. Built without sanitizers.
bench: deps
	@echo "==== bench: build ($(BENCH_DIR), optimised, no sanitizers) ===="
	cmake -S . -B $(BENCH_DIR) -DNORVANE_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_DIR) -j $(JOBS) --target fwbench fwimage
	@dir=$$(mktemp -d /tmp/norvane-bench.XXXXXX); cd "$$dir"; \
	"$(CURDIR)/$(BENCH_DIR)/fwimage" make FW.bin >/dev/null; \
	echo "==== bench: virtual time ===="; \
	"$(CURDIR)/$(BENCH_DIR)/fwbench"; \
	echo "==== bench: real time ===="; \
	"$(CURDIR)/$(BENCH_DIR)/fwbench" --real-time; \
	cd /; rm -rf "$$dir"

# One default silent update of the release exe through Wine's own HID stack (a virtual controller,
# tests/tools/wine/vdev): its wall time against the protocol's floor and the time per HID call.
bench-wine: deps build
	@echo "==== bench-wine: the release exe through Wine's HID stack ===="
	python3 tests/wine/bench_wine.py

# The demo runs two host tools: it builds only those, in a folder of its own, without sanitizers
# and with clang, which compiles the simulated PC's JSON-heavy sources in about two thirds of g++'s
# time (the fuzz build holds the sources to clang's warnings already).
demo: deps
	@echo "==== demo: build fwsim and fwimage ($(DEMO_DIR), clang, no sanitizers) ===="
	cmake -S . -B $(DEMO_DIR) -DNORVANE_SANITIZE=OFF -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(DEMO_DIR) -j $(JOBS) --target fwsim fwimage
	@echo "==== demo: one silent run on the simulated PC ===="
	@dir=$$(mktemp -d /tmp/norvane-demo.XXXXXX); \
	trap 'cd /; rm -rf "$$dir"' EXIT; \
	cd "$$dir"; \
	echo "scratch folder: $$dir (removed at the end)"; \
	echo "\$$ fwimage make FW.bin"; \
	"$(CURDIR)/$(DEMO_DIR)/fwimage" make FW.bin; \
	echo "\$$ fwsim /s /v LOGFILE=fw.log"; \
	status=0; "$(CURDIR)/$(DEMO_DIR)/fwsim" /s /v LOGFILE=fw.log || status=$$?; \
	echo "---- fw.log ----"; \
	if [ -f fw.log ]; then tr -d '\r' < fw.log; else echo "(no log written)"; fi; \
	echo "----------------"; \
	echo "The dates are the simulated PC's: its clock starts at 2024-03-05 09:07:02 unless a"; \
	echo "scenario sets \"time\" (docs/simulator.md), and runs on with the run's pauses."; \
	exit $$status

# The real exe by hand: the release NorvaneFwUpdater.exe under Wine on a virtual controller in
# Wine's HID stack, in a prefix of its own; prints the log, the full exit code and the
# controller's end state, then takes everything down (README.md, "Try the real exe"). ARGS is the
# exe's whole argument string, words separated by blanks. SCENARIO names a scenario file for the
# virtual controllers (default {}: one that the image updates); SETTING's words, separated by
# blanks, become the lines of a Setting.ini's [Setting] section (default: no Setting.ini);
# IMAGE_VERSION is the image's version X.YZ (default 3.08).
ARGS ?= /s /v LOGFILE=fw.log
try-wine: export TRY_WINE_ARGS := $(value ARGS)
try-wine: export TRY_WINE_SCENARIO := $(value SCENARIO)
try-wine: export TRY_WINE_SETTING := $(value SETTING)
try-wine: export TRY_WINE_IMAGE_VERSION := $(value IMAGE_VERSION)
try-wine: deps build-windows
	@echo "==== try-wine: the release exe on a virtual controller in Wine's HID stack ===="
	python3 tests/tools/wine/try_wine.py --scenario "$$TRY_WINE_SCENARIO" \
	  --setting "$$TRY_WINE_SETTING" --image-version "$$TRY_WINE_IMAGE_VERSION" "$$TRY_WINE_ARGS"

# Exhaustive fault injection: a default silent update with a fault at every HID call index, once as
# one failing call and once as the device unplugged from that call on (docs/reliability.md).
soak: deps
	@echo "==== soak: build fwsoak ($(HOST_DIR), sanitizers) ===="
	cmake -S . -B $(HOST_DIR)
	cmake --build $(HOST_DIR) -j $(JOBS) --target fwsoak
	@echo "==== soak: fault at every HID call index ===="
	$(HOST_DIR)/fwsoak

# One-line mutations of the product (tests/mutants/mutations.json), each applied to a copy of the
# sources in build/mutants and built incrementally: the host ones against the host tests (clang,
# no sanitizers; the tests that see the line first, then the rest; the first failure ends a
# run), the Windows ones (mutants-wine) against the Wine tests that should catch them.
# MUTANTS=TEXT keeps the mutations whose name or file holds TEXT. Prints which test killed each
# one; fails when one survives, does not compile or no longer fits its file.
export MUTANTS
mutants: deps
	@echo "==== mutants: every host mutation must be killed by a host test ===="
	JOBS=$(JOBS) python3 tests/mutants/run_mutants.py

mutants-wine: deps build-host
	@echo "==== mutants-wine: every Windows mutation must be killed by a Wine test ===="
	JOBS=$(JOBS) python3 tests/mutants/run_mutants.py --wine

FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= $(JOBS)
FUZZ_TARGETS := arguments image settings controller

# libFuzzer (clang) on the argument string, the image file, Setting.ini and a hostile controller,
# each for FUZZ_SECONDS; FUZZ_JOBS targets at a time. Fails when any target crashes.
fuzz: deps
	@echo "==== fuzz: build ($(FUZZ_DIR), clang, libFuzzer + sanitizers) ===="
	cmake -S . -B $(FUZZ_DIR) -DNORVANE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@echo "==== fuzz: $(FUZZ_SECONDS) s per target, $(FUZZ_JOBS) at a time ===="
	tests/fuzz/run_fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_JOBS) $(FUZZ_TARGETS)

# Format, clang-tidy (checks in .clang-tidy, over the host build's sources) and cppcheck
# (suppressions in .cppcheck-suppressions). The sources of both builds go through cppcheck; the
# host build's through clang-tidy.
LINT_SOURCES = $(shell git ls-files '*.cpp' '*.h' '*.c')
CPPCHECK_DIRS := app device update ui target platform sim tools tests/tools

lint: deps build-host
	@echo "==== lint: clang-format ===="
	clang-format --dry-run -Werror $(LINT_SOURCES)
	@echo "==== lint: cppcheck ===="
	cppcheck --enable=warning,style,performance,portability --std=c++20 --inline-suppr --quiet \
	  --error-exitcode=1 -I. -Iplatform -Itools -Itests/tools --suppress=missingIncludeSystem \
	  --suppress=missingInclude --suppressions-list=.cppcheck-suppressions -j $(JOBS) \
	  $(CPPCHECK_DIRS)
	@echo "==== lint: clang-tidy ===="
	files=$$(python3 -c "import json; print('\n'.join(sorted({e['file'] for e in json.load(open('$(HOST_DIR)/compile_commands.json'))})))"); \
	run-clang-tidy -p $(HOST_DIR) -quiet -j $(JOBS) -extra-arg=-Wno-unknown-warning-option $$files
	@echo "==== lint: clean ===="

clean:
	rm -rf build
