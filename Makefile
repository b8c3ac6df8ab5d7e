# Ridelog: the commands a new user meets.
#   make run    build and start Ridelog on a demo card
#   make test   install what is missing, build, run every test
#   make bench  build and run the benchmarks
#   make fuzz   build the fuzzers with clang and run each for FUZZ_SECONDS

BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 20
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES := cmake ninja-build g++ pkg-config qt6-base-dev libsqlite3-dev \
	qt6-tools-dev qt6-l10n-tools qt6-translations-l10n \
	libnfc-dev libpcsclite-dev libusb-1.0-0-dev libcpp-httplib-dev \
	clang libclang-rt-14-dev fonts-ipafont-gothic

.PHONY: all deps configure build test run bench asan fuzz clean

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
	@$(MAKE) --no-print-directory build
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

clean:
	rm -rf $(BUILD_DIR) build-asan $(FUZZ_DIR)
