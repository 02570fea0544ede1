# The two commands a new machine needs: `make demo` and `make test`. Every target first
# installs whatever Debian packages are missing.
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

BUILD_DIR := build
TEST_DIR := build-test

CMAKE_RELEASE := cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
CMAKE_TEST := cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
	-DHX_SANITIZE=ON -DHX_WERROR=ON

.PHONY: all deps build demo test bench install clean

all: build

deps:
	@scripts/install-deps

build: deps
	@$(CMAKE_RELEASE) -DHX_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD_DIR)/bin

test: deps
	@$(CMAKE_TEST) >/dev/null
	@cmake --build $(TEST_DIR) -j $(JOBS)
	@cd $(TEST_DIR) && ctest -j $(JOBS) --output-on-failure --timeout 600

bench: deps
	@$(CMAKE_RELEASE) -DHX_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@scripts/bench $(BUILD_DIR)

install: build
	@cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

clean:
	@rm -rf $(BUILD_DIR) $(TEST_DIR)
