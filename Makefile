# Front door. `make run` shows the main job on the simulated platform,
# `make test` builds everything and runs every test, `make efi` builds pchflash.efi
# and pchflash-sim.efi.
JOBS ?= 2

.PHONY: all host asan efi test run bench faults fuzz fuzzers format clean

all: host

host:
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS)

asan:
	cmake --preset host-asan >/dev/null
	cmake --build --preset host-asan -j $(JOBS)

efi:
	cmake --preset efi >/dev/null
	cmake --build --preset efi -j $(JOBS)

# The host tests run under AddressSanitizer and UndefinedBehaviorSanitizer; the
# QEMU real-shell tests run the pchflash.efi and pchflash-sim.efi built beside them;
# then each fuzzer runs for a few seconds, JOBS of them at a time.
test: asan fuzzers
	ctest --preset host-asan -j $(JOBS)
	FUZZ_JOBS=$(JOBS) bash fuzz/run_fuzzers.sh build/fuzz 5

# libFuzzer fuzzers, built with clang in their own build directory; `make fuzz`
# runs each for FUZZ_SECONDS, one after the other.
FUZZ_SECONDS ?= 600
fuzzers:
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target pchflash_fuzzers

fuzz: fuzzers
	bash fuzz/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# The main job and the benchmark build only what they run.
run:
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS) --target pchflash-sim
	bash tools/main_job.sh build/host/pchflash-sim

bench:
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS) --target pchflash_bench
	build/host/bench/pchflash_bench

# Every failure point of a write (and of a read) on the simulated platform, checked.
faults:
	cmake --preset host >/dev/null
	cmake --build --preset host -j $(JOBS) --target pchflash_faults
	build/host/tools/pchflash_faults

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
