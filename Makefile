# Ridelog: the commands a new user meets.
#   make run    build and start Ridelog on a demo card
#   make test   install what is missing, build, run every test
#   make bench  build and run the benchmarks
#   make fuzz   build the fuzzers with clang and run each for FUZZ_SECONDS
#   make package  build the Debian package (Release, stripped) in PACKAGE_DIR and check it

BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 20
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
PACKAGE_DIR ?= build-package
# What `make run` builds: the programs of the demo, not the tests and benchmarks.
RUN_TARGETS := ridelog ridelog-nameserver

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES := cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libsqlite3-dev \
	qt6-tools-dev qt6-l10n-tools qt6-translations-l10n \
	libnfc-dev libpcsclite-dev libusb-1.0-0-dev libmicrohttpd-dev \
	clang libclang-rt-14-dev fonts-ipafont-gothic poppler-utils \
	dpkg-dev appstream

.PHONY: all deps configure build test run bench asan fuzz package clean

all: build

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		if [ "$$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi; \
		$$sudo apt-get update -q && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

configure:
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
		cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS); \
	fi

build: configure
	cmake --build $(BUILD_DIR)

test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600

run: deps
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD_DIR) --target $(RUN_TARGETS)
	./scripts/run-demo.sh $(BUILD_DIR)

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do \
		[ -x "$$b" ] || continue; echo "== $$(basename $$b)"; "$$b" || exit 1; \
	done

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@$(MAKE) --no-print-directory test BUILD_DIR=build-asan BUILD_TYPE=Debug \
		CMAKE_FLAGS="-DRIDELOG_SANITIZE=ON"

# Every fuzz_* target, built with clang, libFuzzer and the sanitizers, runs for FUZZ_SECONDS.
# Seeds come from a corpus/<fuzzer> folder beside its sources; new inputs stay in FUZZ_DIR.
fuzz: deps
	@if [ ! -f $(FUZZ_DIR)/build.ninja ]; then \
		CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
			-DRIDELOG_FUZZ=ON $(CMAKE_FLAGS); \
	fi
	@targets=$$(ninja -C $(FUZZ_DIR) -t targets all | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): phony$$/\1/p'); \
	[ -n "$$targets" ] || { echo "no fuzz targets"; exit 1; }; \
	cmake --build $(FUZZ_DIR) --target $$targets
	@for f in $$(find $(FUZZ_DIR) -type f -perm -u+x -name 'fuzz_*' | sort); do \
		name=$$(basename $$f); corpus=$(FUZZ_DIR)/corpus/$$name; mkdir -p $$corpus; \
		seeds=$$(find . -path ./$(FUZZ_DIR) -prune -o -type d -path "*/corpus/$$name" -print | head -1); \
		echo "== $$name for $(FUZZ_SECONDS) s"; \
		$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $$corpus $$seeds || exit 1; \
	done

# The Debian package: a Release tree of its own without tests and benchmarks, installed under
# /usr, packed by CPack (stripped, dependencies from dpkg-shlibdeps), then checked.
package: deps
	@if [ ! -f $(PACKAGE_DIR)/build.ninja ]; then \
		cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
			-DCMAKE_INSTALL_PREFIX=/usr -DRIDELOG_BUILD_TESTS=OFF -DRIDELOG_BUILD_BENCH=OFF \
			$(CMAKE_FLAGS); \
	fi
	cmake --build $(PACKAGE_DIR)
	rm -f $(PACKAGE_DIR)/*.deb
	cd $(PACKAGE_DIR) && cpack -G DEB
	cmake -DPACKAGE="$$(ls $(PACKAGE_DIR)/*.deb)" -DEXPECTED=packaging/package-contents.txt \
		-DVERSION=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(PACKAGE_DIR)/CMakeCache.txt) \
		-P packaging/check-package.cmake
	@if command -v lintian >/dev/null; then \
		lintian --fail-on error $(PACKAGE_DIR)/*.deb; \
	else \
		echo "lintian is not installed: the package is not checked against Debian's rules"; \
	fi
	@ls -l $(PACKAGE_DIR)/*.deb

clean:
	rm -rf $(BUILD_DIR) build-asan $(FUZZ_DIR) $(PACKAGE_DIR)
