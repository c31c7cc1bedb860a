# The project's commands. `make test` and `make demo` first install what they need (Debian 12,
# as root), so that they work on a fresh machine.
JOBS ?= 2
TEST_PRESETS := linux windows-x86 windows-x64
DIST_PRESETS := linux-release windows-x86 windows-x64

.PHONY: all deps build test dist bench fuzz demo clean

all: build

deps:
	@scripts/install-deps.sh

# Configure (once) and build one preset: `make build-linux`.
build-%: deps
	@test -f build/$*/CMakeCache.txt || cmake --preset $* >/dev/null
	cmake --build --preset $* -j$(JOBS)

build: $(addprefix build-,$(TEST_PRESETS))

test: deps
	@set -e; for p in $(TEST_PRESETS); do \
	  $(MAKE) --no-print-directory build-$$p; \
	  echo "== tests: $$p"; \
	  ctest --preset $$p; \
	done
	@$(MAKE) --no-print-directory dist

# dist/<target>/<edition>/ and dist/<target>/simulator/, as the artifact layout fixes them.
dist: deps
	@set -e; for p in $(DIST_PRESETS); do \
	  $(MAKE) --no-print-directory build-$$p; \
	  case $$p in linux-release) target=linux-x86_64;; *) target=$$p;; esac; \
	  rm -rf dist/$$target; \
	  cmake --install build/$$p --prefix dist/$$target >/dev/null; \
	  echo "dist/$$target:"; (cd dist/$$target && find . -type f | sort | sed 's|^\./|  |'); \
	done

clean:
	rm -rf build dist
