# The two commands of a fresh machine, over CMake:
#   make demo   builds the program and repairs a copy of samples/messy.srt
#   make test   builds everything and runs every test
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

WINBUILD ?= build-win

.PHONY: all build test demo bench windows clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE wine

demo: build
	bash samples/demo.sh $(BUILD)/zelvar

bench: build
	$(BUILD)/bench/engine_bench
	python3 bench/run.py $(BUILD)

# zelvar.exe cross-built with MinGW-w64 (apt-get install g++-mingw-w64-x86-64)
windows:
	cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WINBUILD) -j $(JOBS)
	@echo "$(WINBUILD)/zelvar.exe: $$(wc -c < $(WINBUILD)/zelvar.exe) bytes"

clean:
	rm -rf $(BUILD) $(WINBUILD) demo
