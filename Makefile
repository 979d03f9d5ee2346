# Two commands for a newcomer:
#   make run    builds hardenor.exe and runs it in the project's own Wine machine (ARGS="fm=false ...")
#   make test   builds everything and runs every test under Wine
BUILD_DIR ?= build
ARGS ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all bootstrap configure build run test clean

all: build

bootstrap:
	@scripts/bootstrap.sh

configure: bootstrap
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
		-DCMAKE_BUILD_TYPE=Release -Wno-dev >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run-demo.sh $(BUILD_DIR) $(ARGS)

test: build
	@scripts/wine-up.sh $(BUILD_DIR)
	@cd $(BUILD_DIR) && { ctest --output-on-failure -j $(JOBS); rc=$$?; ../scripts/wine-down.sh . ; exit $$rc; }

clean:
	rm -rf $(BUILD_DIR)
