# Ridelog: the commands a new user meets.
#   make run    build and start Ridelog on a demo card
#   make test   install what is missing, build, run every test
#   make bench  build and run the benchmarks

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES := cmake ninja-build g++ pkg-config qt6-base-dev libsqlite3-dev \
	libnfc-dev libpcsclite-dev libusb-1.0-0-dev libcpp-httplib-dev \
	clang libclang-rt-14-dev fonts-ipafont-gothic

.PHONY: all deps configure build test run bench asan clean

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

clean:
	rm -rf $(BUILD_DIR) build-asan
