# The two commands of a fresh machine, over CMake:
#   make demo   builds the program alone (build-demo/zelvar), quietly, and
#               repairs a copy of samples/messy.srt (needs only a C++
#               compiler, CMake, make)
#   make test   builds everything, quietly, and runs every test but the
#               Wine ones
# and for users and packagers:
#   make install [PREFIX=/usr/local] [DESTDIR=]   the program, manual page,
#               README and licence under PREFIX (built first)
#   make uninstall [PREFIX=/usr/local] [DESTDIR=] removes them again
#   make package   build-package/zelvar_VERSION_ARCH.deb, and, where
#               MinGW-w64 is installed, build-package/zelvar-VERSION-windows.zip
BUILD ?= build
DEMOBUILD ?= build-demo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

WINBUILD ?= build-win
PACKAGEBUILD ?= build-package
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all build test program demo bench windows clean install uninstall \
  package

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

# The program alone, with nothing for the tests.
program:
	@$(call quiet,$(DEMOBUILD),cmake -S . -B $(DEMOBUILD) \
	  -DCMAKE_BUILD_TYPE=Release -DZELVAR_TESTS=OFF \
	  && cmake --build $(DEMOBUILD) -j $(JOBS))

demo: program
	@bash samples/demo.sh $(DEMOBUILD)/zelvar

install: program
	@DESTDIR="$(DESTDIR)" cmake --install $(DEMOBUILD) --prefix "$(PREFIX)"

# What install puts there, listed by installing into a scratch folder, is
# removed, and so is a folder of the program's own (share/doc/zelvar). Only
# what was there and went is named; a file that would not go fails the run.
uninstall: program
	@stage=$$(mktemp -d) && \
	  DESTDIR=$$stage cmake --install $(DEMOBUILD) --prefix "$(PREFIX)" \
	    >/dev/null && \
	  (cd $$stage && find . -type f) | { status=0; while read -r file; do \
	    path="$(DESTDIR)$${file#.}"; \
	    if [ -e "$$path" ] || [ -L "$$path" ]; then \
	      if rm -f "$$path"; then echo "-- Removing: $$path"; \
	      else status=1; fi; \
	    fi; \
	  done; exit $$status; }; status=$$?; \
	  (cd $$stage && find . -depth -type d -name zelvar) | while read -r dir; do \
	    rmdir "$(DESTDIR)$${dir#.}" 2>/dev/null || true; \
	  done; rm -rf "$$stage"; exit $$status

package:
	@$(call quiet,$(PACKAGEBUILD),cmake -S . -B $(PACKAGEBUILD) \
	  -DCMAKE_BUILD_TYPE=Release -DZELVAR_TESTS=OFF -DZELVAR_DEBIAN=ON \
	  -DCMAKE_INSTALL_PREFIX=/usr \
	  && cmake --build $(PACKAGEBUILD) -j $(JOBS) \
	  && cd $(PACKAGEBUILD) && cpack)
	@ls $(PACKAGEBUILD)/zelvar_*.deb
	@if command -v x86_64-w64-mingw32-g++ >/dev/null; then \
	  $(MAKE) --no-print-directory windows >/dev/null && \
	  bash resources/make_zip.sh $(WINBUILD)/zelvar.exe $(PACKAGEBUILD); \
	else echo "no MinGW-w64 here: no Windows zip" \
	  "(apt-get install g++-mingw-w64-x86-64)"; fi

bench: build
	@test -x $(BUILD)/bench/engine_bench || { echo "make bench needs Google" \
	  "Benchmark: apt-get install libbenchmark-dev, then make bench again"; \
	  exit 1; }
	@echo "make bench: about two minutes, up to 200 MB of scratch files in" \
	  "$(BUILD)/bench-files (LARGE=1 adds a 500 MB file: minutes, 1.5 GB)"
	$(BUILD)/bench/engine_bench
	python3 bench/run.py $(BUILD) $(if $(LARGE),--large)

# zelvar.exe cross-built with MinGW-w64 (apt-get install g++-mingw-w64-x86-64)
windows:
	@$(call quiet,$(WINBUILD),cmake -S . -B $(WINBUILD) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  && cmake --build $(WINBUILD) -j $(JOBS))
	@echo "$(WINBUILD)/zelvar.exe: $$(wc -c < $(WINBUILD)/zelvar.exe) bytes"

clean:
	rm -rf $(BUILD) $(DEMOBUILD) $(WINBUILD) $(PACKAGEBUILD) demo
