# Thin wrapper over the CMake presets. `make run` is the main job, `make test` builds and runs every
# test; both install what they need first.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: setup build test test-asan test-tsan run clean

setup:
	@scripts/setup.sh

build: setup
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

run: build
	scripts/main_job.sh build/$(PRESET)

clean:
	rm -rf build
