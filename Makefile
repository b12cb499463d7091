# Entry points for people: `make demo` renders the built-in demo session,
# `make test` builds and runs every test. Both install missing Debian packages
# first (as root) or say which command to run.
BUILD ?= build
SANBUILD ?= build-san
TSANBUILD ?= build-tsan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# WERROR=ON turns warnings into errors, as CI builds.
WERROR ?= OFF

.PHONY: all deps configure build test test-san test-asan test-tsan demo bench fuzz format format-check clean

all: build

deps:
	@scripts/ensure-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DSORVAN_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The loudness tests compare with FFmpeg's meter.
test: build
	@scripts/ensure-deps.sh ffmpeg
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
# (built with clang when it is installed), then the renders under
# ThreadSanitizer. With clang the fuzz targets are built there too, so
# `make fuzz FUZZ_BUILD=build-san` (as CI runs it) compiles nothing again.
test-san: test-asan test-tsan

test-asan: deps
	@scripts/ensure-deps.sh clang libclang-rt-14-dev libomp-14-dev
	CXX=$$(command -v clang++ || command -v g++) cmake -S . -B $(SANBUILD) \
	  -DCMAKE_BUILD_TYPE=Debug -DSORVAN_SANITIZE=ON -DSORVAN_WERROR=$(WERROR) \
	  -DSORVAN_FUZZ=$$(command -v clang++ >/dev/null && echo ON || echo OFF) >/dev/null
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ctest --output-on-failure -j $(JOBS)

# The renders (in memory and of the real binary, at several thread counts)
# under ThreadSanitizer, with the OpenMP runtime's own support for it.
TSAN_TESTS ?= Render|Golden|Playback|Loudness|Plot
test-tsan: deps
	@scripts/ensure-deps.sh clang libclang-rt-14-dev libomp-14-dev
	CXX=clang++ cmake -S . -B $(TSANBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVAN_TSAN=ON \
	  -DSORVAN_WERROR=$(WERROR) >/dev/null
	cmake --build $(TSANBUILD) -j $(JOBS) --target sorvan sorvan_demo_gen test_engine test_e2e
	cd $(TSANBUILD) && TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1" \
	  OMP_TOOL_LIBRARIES=$(firstword $(wildcard /usr/lib/llvm-*/lib/libarcher.so)) \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# Only the program and the demo generator: the test suite takes minutes to
# compile on a small machine and the demo does not need it.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target sorvan sorvan_demo_gen
	demo/render.sh $(BUILD)

# The speed figures: the mix (run.sh), the formats and rate conversion
# (sources.sh), stems and a loudness target (deliveries.sh).
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target sorvan_floor
	bench/run.sh $(BUILD)
	bench/sources.sh $(BUILD)
	bench/deliveries.sh $(BUILD)

# Every libFuzzer target for FUZZ_SECONDS each, built with clang in build-fuzz.
# FUZZ_SEED fixes libFuzzer's random seed, so a run can be repeated.
FUZZ_SECONDS ?= 60
FUZZ_SEED ?=
FUZZ_BUILD ?= build-fuzz
fuzz:
	@scripts/ensure-deps.sh clang libclang-rt-14-dev libomp-14-dev
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_SEED=$(FUZZ_SEED) FUZZ_BUILD=$(FUZZ_BUILD) JOBS=$(JOBS) \
	  fuzz/run.sh

# The C++ sources follow .clang-format; `make format` rewrites them, CI checks.
FORMAT_FILES = git ls-files '*.cpp' '*.h'
format:
	@scripts/ensure-deps.sh clang-format
	$(FORMAT_FILES) | xargs clang-format -i

format-check:
	@scripts/ensure-deps.sh clang-format
	$(FORMAT_FILES) | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(SANBUILD) $(TSANBUILD) demo/out
