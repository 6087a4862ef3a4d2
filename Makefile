# The two commands of a fresh machine, over CMake:
#   make demo   builds the program alone, quietly, and repairs a copy of
#               samples/messy.srt (needs only a C++ compiler, CMake, make)
#   make test   builds everything, quietly, and runs every test
BUILD ?= build
DEMOBUILD ?= build-demo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

WINBUILD ?= build-win

.PHONY: all build test demo bench windows clean

# Runs the commands $(2) with their output kept in $(1)/build.log, shown
# only when they fail.
quiet = mkdir -p $(1) && { $(2); } >$(1)/build.log 2>&1 || \
  { cat $(1)/build.log; exit 1; }

all: build

build:
	@$(call quiet,$(BUILD),cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  && cmake --build $(BUILD) -j $(JOBS))

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE wine

demo:
	@$(call quiet,$(DEMOBUILD),cmake -S . -B $(DEMOBUILD) \
	  -DCMAKE_BUILD_TYPE=Release -DZELVAR_TESTS=OFF \
	  && cmake --build $(DEMOBUILD) -j $(JOBS))
	@bash samples/demo.sh $(DEMOBUILD)/zelvar

bench: build
	@test -x $(BUILD)/bench/engine_bench || { echo "make bench needs Google" \
	  "Benchmark: apt-get install libbenchmark-dev, then make bench again"; \
	  exit 1; }
	$(BUILD)/bench/engine_bench
	python3 bench/run.py $(BUILD)

# zelvar.exe cross-built with MinGW-w64 (apt-get install g++-mingw-w64-x86-64)
windows:
	@$(call quiet,$(WINBUILD),cmake -S . -B $(WINBUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  && cmake --build $(WINBUILD) -j $(JOBS))
	@echo "$(WINBUILD)/zelvar.exe: $$(wc -c < $(WINBUILD)/zelvar.exe) bytes"

clean:
	rm -rf $(BUILD) $(DEMOBUILD) $(WINBUILD) demo
