# Front door. `make run` shows the main job on the simulated platform,
# `make test` builds everything and runs every test, `make efi` builds pchflash.efi.
JOBS ?= 2

.PHONY: all host asan efi test run bench faults format clean

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
# QEMU real-shell tests run the pchflash.efi built beside them.
test: asan
	ctest --preset host-asan -j $(JOBS)

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
