# The two everyday commands: `make run` analyses the bundled example and
# `make test` runs the whole test suite, the sanitizer build included.
BUILD   := $(CURDIR)/build
JOBS    ?= 2
GEN     := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
EXAMPLE := $(CURDIR)/examples/si-2x2x2.gro

.PHONY: all deps configure kavet build run series python test test-release test-python test-notebook test-sanitize fuzz-build fuzz-smoke fuzz-long bench bench-phases pictures clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release $(GEN) >/dev/null

# The program alone; `make test` builds the rest.
kavet: configure
	@cmake --build $(BUILD)/release -j $(JOBS) --target kavet

build: configure
	@cmake --build $(BUILD)/release -j $(JOBS)

# Output files go to a scratch folder; they are appended to, so start afresh.
run: kavet
	@rm -rf $(BUILD)/example && mkdir -p $(BUILD)/example
	cd $(BUILD)/example && $(BUILD)/release/kavet -f $(EXAMPLE) \
	  -or si-2x2x2~ring.pdb -oc si-2x2x2~cage.pdb -od si-2x2x2~cage.dat
	@echo "Output files are in build/example/"

# Series mode on the bundled trajectory, and its plot (docs/series-melting.png).
series: kavet
	@sh tools/install-deps.sh python3-matplotlib
	@mkdir -p $(BUILD)/example
	cd $(BUILD)/example && $(BUILD)/release/kavet -f $(EXAMPLE) \
	  -t $(CURDIR)/examples/si-2x2x2-melting.gro -ot melting.csv
	tools/plot-series $(BUILD)/example/melting.csv -o $(BUILD)/example/melting.png \
	  --title "structure I, 2x2x2 cells, disordered step by step"

test: test-release test-python test-notebook test-sanitize fuzz-smoke

test-release: build
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

# The Python package, from Debian's packages alone: a virtual environment
# .venv at the top of the tree that sees the system's packages (numpy,
# pandas, MDAnalysis, dask), and kavet installed into it without an index.
PYTHON := /usr/bin/python3
VENV   := $(CURDIR)/.venv

python: kavet
	$(PYTHON) -m venv --system-site-packages $(VENV)
	@echo "Building the extension module (a few minutes on 2 cores; -v shows the compiler)"
	JOBS=$(JOBS) $(VENV)/bin/pip install -v --no-build-isolation --no-index .
	@echo "The command line is $(BUILD)/release/kavet; use the package with $(VENV)/bin/python, or: . $(VENV)/bin/activate"

# The Python tests against the module of the release build (pytest's exit
# status 5 means no test was collected).
test-python: build
	cd $(CURDIR) && PYTHONPATH=$(BUILD)/release/python KAVET_BINARY=$(BUILD)/release/kavet \
	  $(PYTHON) -m pytest -q -p no:cacheprovider python/tests; rc=$$?; [ $$rc -eq 0 ] || [ $$rc -eq 5 ]

# The example notebook, run from top to bottom in its folder against the
# release build's module (its figures go to build/notebook; KAVET_FIGURES=docs
# redraws those of the docs).
test-notebook: build
	cd $(CURDIR) && PYTHONPATH=$(BUILD)/release/python KAVET_FIGURES=$(abspath $(or $(KAVET_FIGURES),$(BUILD)/notebook)) \
	  $(PYTHON) tools/run-notebook examples/hydrate-study.ipynb --timeout 120

# The sanitizer build's tests, then the Python tests against its module. An
# interpreter that is not instrumented loads that module only with the
# compiler's sanitizer runtimes preloaded (which its child processes, the
# kavet program among them, inherit). CPython keeps its objects until exit by
# design, so leaks are not reported; the other options are the sanitizer
# build's own (-fno-sanitize-recover: the first fault ends the process).
SANITIZER_RUNTIMES = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

test-sanitize: deps
	@cmake -S . -B $(BUILD)/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVET_SANITIZE=ON $(GEN) >/dev/null
	@cmake --build $(BUILD)/sanitize -j $(JOBS)
	cd $(BUILD)/sanitize && ctest --output-on-failure -j $(JOBS)
	cd $(CURDIR) && LD_PRELOAD="$(SANITIZER_RUNTIMES)" ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1 PYTHONPATH=$(BUILD)/sanitize/python KAVET_BINARY=$(BUILD)/sanitize/kavet \
	  $(PYTHON) -m pytest -q -p no:cacheprovider python/tests

clean:
	rm -rf $(BUILD)

# libFuzzer targets, built with clang into build/fuzz. Each fuzzer grows its
# own working corpus under build/fuzz/corpus from the seeds in fuzz/corpus;
# crashing inputs are written to build/fuzz/artifacts.
FUZZ         := $(BUILD)/fuzz
FUZZERS      := gro_reader whole_run xtc_reader lammps_reader array_frame
FUZZ_SECONDS ?= 1800
FUZZ_FLAGS   := -max_len=4096 -timeout=30 -print_final_stats=1 -artifact_prefix=$(FUZZ)/artifacts/

fuzz-build:
	@sh tools/install-deps.sh clang libclang-rt-14-dev
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKAVET_FUZZ=ON -DKAVET_TESTS=OFF $(GEN) >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZERS))
	@mkdir -p $(FUZZ)/artifacts $(addprefix $(FUZZ)/corpus/,$(FUZZERS))

fuzz-smoke: fuzz-build
	@for t in $(FUZZERS); do \
	  echo "fuzz_$$t: 5 seconds"; \
	  $(FUZZ)/fuzz/fuzz_$$t $(FUZZ_FLAGS) -max_total_time=5 \
	    $(FUZZ)/corpus/$$t fuzz/corpus/$$t >$(FUZZ)/smoke-$$t.log 2>&1 \
	    || { tail -n 40 $(FUZZ)/smoke-$$t.log; exit 1; }; \
	  grep -E "^stat::number_of_executed_units|DONE" $(FUZZ)/smoke-$$t.log; \
	done

fuzz-long: fuzz-build
	@for t in $(FUZZERS); do \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) seconds"; \
	  nice -n 10 $(FUZZ)/fuzz/fuzz_$$t $(FUZZ_FLAGS) -max_total_time=$(FUZZ_SECONDS) \
	    $(FUZZ)/corpus/$$t fuzz/corpus/$$t >$(FUZZ)/long-$$t.log 2>&1; \
	  status=$$?; \
	  grep -E "DONE|^stat::|ERROR|SUMMARY|Test unit written" $(FUZZ)/long-$$t.log; \
	  [ $$status -eq 0 ] || exit $$status; \
	done

# The benchmark table: the machine, single frames of about 1e4, 1e5 and 1e6
# waters (time and peak memory), the 1e6 frame as a one-frame series, and
# series frames/s at 1e4 waters on one and two threads, and the floor of a
# series frame (reading and the neighbour list alone, bench/floor_bench.cpp)
# at 1e4 and 1e5 waters. SIZES="1e4 1e5" for
# a subset, REPEAT=3 for the best of three interleaved runs.
bench: kavet
	@cmake --build $(BUILD)/release -j $(JOBS) --target floor_bench
	python3 bench/summary.py $(if $(SIZES),--sizes $(SIZES)) $(if $(REPEAT),--repeat $(REPEAT))

# Per-phase times on supercells of about 1e3 to 4e5 waters; TRICLINIC=1 times
# each in a rectangular cell and in a sheared twin.
bench-phases: kavet
	python3 bench/run_bench.py $(if $(SIZES),--sizes $(SIZES)) $(if $(TRICLINIC),--triclinic --repeat 3)
	python3 bench/series_bench.py $(if $(SERIES_SIZES),--sizes $(SERIES_SIZES))

# Jmol pictures of a 5^12 and a 5^12-6^2 cage of the example, for the README.
pictures:
	sh docs/pictures.sh
