# Two commands for a newcomer:
#   make run    builds hardenor.exe and runs it in the project's own Wine machine (ARGS="fm=false ...")
#   make test   builds everything and runs every test under Wine; ends with CTest's summary line
#               (first clang, a second compiler, compiles every source in a tree of its own)
#   make lint   clang-tidy's analyzer and bug-prone checks over the product sources (.clang-tidy), on
#               the compile database of clang's tree
#   make bench  times the tool against yardsticks under Wine (not a test; see scripts/bench.sh)
#   make dist   builds only the shipped exe and packs dist/hardenor-<version>-x86.zip; with
#               SIGN_CERT=<certificate> SIGN_KEY=<key> the exe is signed first
#
# Both architectures are built: the shipped 32-bit exe (BUILD_DIR/i686) and its 64-bit twin
# (BUILD_DIR/x86_64), for machines that cannot run 32-bit programs; BUILD_DIR/clang-x86_64 is the twin
# compiled by clang, which links nothing. `make test` runs the suite on
# every architecture this machine can run; ARCHES=x86_64 or ARCHES=i686 forces the choice;
# ARCHES=x86_64 also keeps the set-up (scripts/bootstrap.sh) from installing the 32-bit Wine.
# The checkout that holds this Makefile: its scripts and sources are found from here, whatever the
# current directory and BUILD_DIR.
ROOT := $(patsubst %/,%,$(dir $(abspath $(lastword $(MAKEFILE_LIST)))))
BUILD_DIR ?= build
ARGS ?=
ARCHES ?=
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
export JOBS

.PHONY: all bootstrap configure build clang run test lint bench dist clean

all: build

bootstrap:
	@$(ROOT)/scripts/bootstrap.sh "$(ARCHES)"

# Each tree from its own toolchain file: cmake/<tree>-w64-mingw32.cmake.
configure: bootstrap
	@for tree in i686 x86_64 clang-x86_64; do \
		cmake -S $(ROOT) -B $(BUILD_DIR)/$$tree -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/$$tree-w64-mingw32.cmake \
			-DCMAKE_BUILD_TYPE=Release -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -Wno-dev --no-warn-unused-cli \
			>/dev/null || exit 1; \
	done

build: configure
	@cmake --build $(BUILD_DIR)/i686 -j $(JOBS)
	@cmake --build $(BUILD_DIR)/x86_64 -j $(JOBS)

run: build
	@$(ROOT)/scripts/run-demo.sh $(BUILD_DIR) $(ARGS)

# The second compiler compiles every product and test source before the suite runs, with warnings of
# its own as errors: a warning fails the run as a build error does.
clang: configure
	@cmake --build $(BUILD_DIR)/clang-x86_64 -j $(JOBS)

test: build clang
	@$(ROOT)/scripts/test.sh $(BUILD_DIR) "$(ARCHES)"

lint: configure
	@$(ROOT)/scripts/lint.sh $(BUILD_DIR)/clang-x86_64

bench: build
	@$(ROOT)/scripts/bench.sh $(BUILD_DIR)

# The shipped 32-bit exe alone, in a build folder of its own without the tests.
dist: bootstrap
	@cmake -S $(ROOT) -B $(BUILD_DIR)/dist -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/i686-w64-mingw32.cmake \
		-DCMAKE_BUILD_TYPE=Release -DHARDENOR_TESTS=OFF -Wno-dev --no-warn-unused-cli >/dev/null
	@cmake --build $(BUILD_DIR)/dist -j $(JOBS) --target hardenor
	@SIGN_CERT="$(SIGN_CERT)" SIGN_KEY="$(SIGN_KEY)" $(ROOT)/scripts/dist.sh $(BUILD_DIR)/dist $(ROOT)/dist

clean:
	rm -rf $(BUILD_DIR)
