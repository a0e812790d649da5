# The two everyday commands: `make run` analyses the bundled example and
# `make test` runs the whole test suite, the sanitizer build included.
BUILD   := $(CURDIR)/build
JOBS    ?= 2
GEN     := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
EXAMPLE := $(CURDIR)/examples/si-2x2x2.gro

.PHONY: all deps build run test test-release test-sanitize bench pictures clean

all: build

deps:
	@sh tools/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release $(GEN) >/dev/null
	@cmake --build $(BUILD)/release -j $(JOBS)

# Output files go to a scratch folder; they are appended to, so start afresh.
run: build
	@rm -rf $(BUILD)/example && mkdir -p $(BUILD)/example
	cd $(BUILD)/example && $(BUILD)/release/kavet -f $(EXAMPLE) \
	  -or si-2x2x2~ring.pdb -oc si-2x2x2~cage.pdb -od si-2x2x2~cage.dat
	@echo "Output files are in build/example/"

test: test-release test-sanitize

test-release: build
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVET_SANITIZE=ON $(GEN) >/dev/null
	@cmake --build $(BUILD)/sanitize -j $(JOBS)
	cd $(BUILD)/sanitize && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Whole-run timings on structure-I supercells of about 1e3 to 4e5 waters.
bench: build
	python3 bench/run_bench.py $(if $(SIZES),--sizes $(SIZES))

# Jmol pictures of a 5^12 and a 5^12-6^2 cage of the example, for the README.
pictures:
	sh docs/pictures.sh
