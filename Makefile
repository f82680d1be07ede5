# A thin layer over the CMake presets. Every target but `clean` runs `setup` first,
# which installs the Debian packages the build needs (as root, with apt-get) and does
# nothing when they are already there.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)

PACKAGES := cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev libstb-dev \
            g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 xvfb libgl1-mesa-dri gstreamer1.0-plugins-base \
            ffmpeg libavfilter-dev libavutil-dev pkg-config valgrind \
            nasm dpkg-dev libturbojpeg0-dev libyuv-dev llvm lld mono-mcs python3 \
            python3-onnx python3-flatbuffers python3-numpy python3-skimage

.PHONY: setup build build-windows build-windows-x86 build-native package test demo bench format format-check clean

setup:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "setup: installing" $$missing; \
	  if [ "$$(id -u)" != 0 ]; then echo "setup: run as root to install packages" >&2; exit 1; fi; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
	@# Debian's sources of libjpeg-turbo and libyuv, which the Windows build compiles itself.
	@cmake/debian-sources.sh build/third-party/sources
	@# The inference runtime and the person segmentation model, from the npm registry.
	@cmake/npm-packages.sh build/third-party/npm

build-windows: setup
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# x86 is built and checked without running: 32-bit programs cannot run here (and Debian's
# wine32 must never be installed beside wine64).
build-windows-x86: setup
	cmake --preset windows-x86 >/dev/null
	cmake --build --preset windows-x86 -j $(JOBS)

build-native: setup
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)
	cmake --preset native-asan >/dev/null
	cmake --build --preset native-asan -j $(JOBS)
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

build: build-windows build-windows-x86 build-native

# build/package/pictor-<version>-x64.zip and -x86.zip: CPack over the install rules of
# packaging/, from each tree's library, tools and import libraries; beside each, its
# symbols (pictor-<version>-<arch>-symbols.zip).
PACKAGE_TARGETS := Pictor pictor-logserver pictor-viewer virtualcam pictor_c_import_library pictor_shipping
package: setup
	@set -e; for p in windows windows-x86; do \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j $(JOBS) --target $(PACKAGE_TARGETS); \
	  cpack --config build/$$p/CPackConfig.cmake -B $(CURDIR)/build/package; \
	  cp build/$$p/shipping/*-symbols.zip build/package/; \
	done; rm -rf build/package/_CPack_Packages

test: build
	tests/run-all.sh

demo: build-windows
	examples/run-demo.sh

bench: build
	bench/run-bench.sh

# The sources' one format (.clang-format); format-check changes nothing and fails on a difference.
# third_party/ stays as its authors wrote it.
FORMAT_FILES = $$(git ls-files '*.c' '*.cpp' '*.h' ':!third_party/')
format:
	clang-format -i $(FORMAT_FILES)

format-check:
	clang-format --dry-run --Werror $(FORMAT_FILES)

clean:
	rm -rf build
