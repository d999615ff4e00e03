# Tallyvane: `make run` and `make test` are all a fresh Debian 12 or 13 machine needs (with make and git).
JOBS ?= $(shell nproc)

.PHONY: all deps build run test screenshots test-sanitize test-tsan test-debian13 lint bench fuzz package format format-check clean

all: build

deps:
	@scripts/deps.sh

build: deps
	@cmake --preset dev >/dev/null
	@cmake --build --preset dev -j $(JOBS)

run: build
	@scripts/run.sh build/dev/tallyvane

test: build
	@scripts/format-check.sh
	@scripts/layer-check.sh
	@ctest --preset dev

# The pictures the panel's layout tests check, at scale 1 and 2 (crisp lines and text at a high DPI).
screenshots: build
	@for scale in 1 2; do \
		TALLYVANE_SCREENSHOTS=$(CURDIR)/build/dev/screenshots QT_SCALE_FACTOR=$$scale \
			build/dev/tests/ui/tests_ui --gtest_filter='PanelScreenshot.*' --gtest_brief=1 || exit 1; \
	done
	@echo "Pictures in build/dev/screenshots/"

test-sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize -j $(JOBS)
	@ctest --preset sanitize

# The app, providers and history suites under ThreadSanitizer; any report fails its case.
test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan

# clang-tidy over every C++ file of the build, as .clang-tidy says.
lint: build
	@scripts/lint.sh

# `make test` and `make package` on a fresh Debian 13 root (debootstrap, kept between runs); needs root.
test-debian13:
	@scripts/test-debian13.sh

bench: deps
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@scripts/bench.sh build/release

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

# The Debian package from a release build, checked, left here for `sudo apt install ./tallyvane_*.deb`.
package: deps
	@cmake --preset package >/dev/null
	@cmake --build --preset package -j $(JOBS)
	@rm -rf build/package/cpack tallyvane_*.deb
	@cd build/package && cpack -B cpack >/dev/null
	@cp build/package/cpack/tallyvane_*.deb .
	@tests/support/check-package.sh tallyvane_*.deb
	@echo "Built $$(ls tallyvane_*.deb): install it with  sudo apt install ./$$(ls tallyvane_*.deb)"

format-check:
	@scripts/format-check.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	@rm -rf build
