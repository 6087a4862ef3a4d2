# The two commands of a fresh machine, over CMake:
#   make demo   builds the program and repairs a copy of samples/messy.srt
#   make test   builds everything and runs every test
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test demo bench clean

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

clean:
	rm -rf $(BUILD) demo
