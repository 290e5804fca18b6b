# Korvane: `make run` starts the application, `make test` builds and runs every test.
JOBS ?= $(shell nproc)
CMAKE_COMMON = -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
DEBUG_DIR = build/debug
RELEASE_DIR = build/release
TSAN_DIR = build/tsan
# The tests of what runs on several threads at once (a build makes its pages side by side).
TSAN_TESTS = tst_KRXMLDocument tst_KRXMLMemory tst_KRObject tst_KRPageOutput tst_KRProjectBuilder \
  tst_KRControlProjectBuild tst_KRDamagedProjects tst_KRBuiltControlScripts

.PHONY: deps test test-web test-e2e test-threads run bench configure-debug configure-release build-debug build-release clean

deps:
	@tools/setup-deps

configure-debug: deps
	@cmake -S . -B $(DEBUG_DIR) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DKR_SANITIZE=ON -DKR_BUILD_BENCH=OFF >/dev/null

build-debug: configure-debug
	@cmake --build $(DEBUG_DIR) -j $(JOBS)

test: build-debug
	@cd $(DEBUG_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 -LE web
	@$(MAKE) --no-print-directory test-web
	@$(MAKE) --no-print-directory test-e2e

# QtWebEngine does not run under AddressSanitizer, so the web tests (label web) are built in the
# release tree, on the libraries the application is built from, and run there; the sanitized
# tree skips them. The default target of the release tree builds none of them.
test-web: configure-release
	@targets=$$(cd $(RELEASE_DIR) && ctest -N -L web | sed -n 's/^ *Test *#[0-9]*: *//p'); \
	if [ -n "$$targets" ]; then \
	  cmake --build $(RELEASE_DIR) -j $(JOBS) --target stage_web_libs $$targets && \
	  cd $(RELEASE_DIR) && ctest --output-on-failure -L web -j 2 --timeout 900; \
	fi

# The desktop suite: the release build of the application (as `make run` builds it) driven on
# private X displays with real input and read through the accessibility bus; screenshots go to
# build/release/test-artifacts/e2e/.
E2E_TARGETS = korvane stage_web_libs runtime_js kr_page_check
test-e2e: configure-release
	@cmake --build $(RELEASE_DIR) -j $(JOBS) --target $(E2E_TARGETS)
	@cd $(RELEASE_DIR) && ctest --output-on-failure -L e2e -j 2 --timeout 600

# Not part of `make test`: the thread tests under ThreadSanitizer, in a tree of their own.
test-threads: deps
	@cmake -S . -B $(TSAN_DIR) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKR_BUILD_BENCH=OFF -DKR_WEB_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	@cd $(TSAN_DIR) && TSAN_OPTIONS=halt_on_error=1:die_after_fork=0:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest --output-on-failure -j $(JOBS) --timeout 900 -R "^($$(echo $(TSAN_TESTS) | tr ' ' '|'))$$"

configure-release: deps
	@cmake -S . -B $(RELEASE_DIR) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DKR_BUILD_TESTS=ON -DKR_WEB_TESTS_ONLY=ON -DKR_E2E_TESTS=ON >/dev/null

build-release: configure-release
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build-release
	@if [ -x $(RELEASE_DIR)/app/korvane ]; then \
	  exec $(RELEASE_DIR)/app/korvane; \
	else \
	  echo "Korvane has no application window yet: the libraries are built, the window is still to come."; \
	fi

# Every benchmark in turn, then one table of the figures that have a target (met or not) and
# the time each benchmark took.
bench: build-release
	@python3 bench/support/run_benchmarks.py $(RELEASE_DIR)

clean:
	rm -rf build
