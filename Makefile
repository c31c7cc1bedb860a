# The project's commands. `make test` and `make demo` first install what they need (Debian 12,
# as root), so that they work on a fresh machine.
# One build job per core, unless JOBS says otherwise.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
TEST_PRESETS := linux windows-x86 windows-x64
DIST_PRESETS := linux-release linux-aarch64 windows-x86 windows-x64
# ARM64 programs run here under qemu-aarch64 with the system's arm64 libraries.
QEMU := scripts/qemu-aarch64-run.sh
# Windows programs run from dist/ use the Wine prefix of the 32-bit build.
WINE := WINEPREFIX=$(CURDIR)/build/windows-x86/wineprefix scripts/wine-run.sh

# Seconds each fuzz target runs in `make fuzz`, and in the short fuzz step of `make test`.
FUZZ_SECONDS ?= 60
TEST_FUZZ_SECONDS ?= 5

.PHONY: all deps build test dist release demo examples fuzz bench clean

all: build

# `make test` installs in two stages of its own (what the builds need, then the rest beside the
# builds) and sets DEPS_INSTALLED for the steps after them, which then skip the check.
deps:
	@[ -n "$(DEPS_INSTALLED)" ] || scripts/install-deps.sh

# The 32-bit Windows suites run only where this machine runs 32-bit programs. Elsewhere the preset
# builds (and dist/ ships, and the audit checks) its libraries and programs, not its test programs,
# which nothing could run.
CAN_RUN_32_BIT = $(shell scripts/wine-run.sh --can-run-32-bit && echo yes)
CONFIGURE_windows-x86 = $(if $(CAN_RUN_32_BIT),,-DRIDEL_TESTS=OFF)

# Configure (once) and build one preset: `make build-linux`.
build-%: deps
	@test -f build/$*/CMakeCache.txt || cmake --preset $* $(CONFIGURE_$*) >/dev/null
	cmake --build --preset $* -j$(JOBS)

build: $(addprefix build-,$(TEST_PRESETS))

# Every build, suite and check, as stages whose times are printed at the end (build/stages/).
# The builds go in two lanes side by side, each build taking both cores: a build alone leaves
# cores idle while it configures, links or runs a single custom command, which the other lane
# fills. Beside them, a third lane installs what only the suites need and sets up their Wine
# prefixes: on a fresh machine that is minutes of downloading and unpacking, mostly waiting. The
# native suites and the Windows suites then run side by side, one process each, since much of
# their time is spent waiting (on Wine, on processes that time out, on sockets); after them the
# aarch64 reads, examples, packages and the release beside the fuzz run. A stage beside
# others prints its output whole when it ends (kept in build/stages/<stage>.log). The release's
# own check runs last, alone: it installs into the 64-bit suites' Wine prefix.
# CTest runs CTEST_JOBS tests of a suite at a time: 1 by default, since some cases time their
# clients against the service (a queue filled within a second, polling seen within 400 ms), and
# more processes than cores would starve them. Tests that share a folder, the program's result
# files or the Wine prefix's temporary folder hold a RESOURCE_LOCK, so that CTEST_JOBS=2 on a
# bigger machine keeps them apart.
CTEST_JOBS ?= 1
STAGE := scripts/stage.sh
TEST_MAKE := $(MAKE) --no-print-directory DEPS_INSTALLED=1
# `$(call STAGES,name ...)`: the named stages one after the other in one lane, each timed.
STAGES = $(foreach s,$(1),$(STAGE) run $(s) $(TEST_MAKE) $(s) &&) true
test:
	@$(STAGE) begin
	@$(STAGE) run install-build scripts/install-deps.sh build || { $(STAGE) report; exit 1; }
	@$(STAGE) together \
	  lane-1 '$(call STAGES,build-linux build-linux-release build-fuzz)' \
	  lane-2 '$(call STAGES,build-windows-x64 build-windows-x86 build-linux-aarch64)' \
	  lane-0 '$(call STAGES,install-rest wine-prefixes)' \
	  || { $(STAGE) report; exit 1; }
	@$(STAGE) run dist $(TEST_MAKE) dist || { $(STAGE) report; exit 1; }
	@$(STAGE) together \
	  suite-linux '$(TEST_MAKE) suite-linux' \
	  suite-windows '$(TEST_MAKE) suite-windows-x86 suite-windows-x64' \
	  || { $(STAGE) report; exit 1; }
	@$(STAGE) together \
	  lane-3 '$(call STAGES,read-aarch64 examples packages release)' \
	  fuzz-run '$(TEST_MAKE) fuzz-run FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)' \
	  || { $(STAGE) report; exit 1; }
	@$(STAGE) run release-check tests/release/run.sh $(RELEASE) || { $(STAGE) report; exit 1; }
	@$(STAGE) report

# What the suites, examples, packages and the release need besides the builds' packages: make test
# installs it beside the builds, which need none of it.
.PHONY: install-rest wine-prefixes
install-rest:
	@scripts/install-deps.sh rest

# The Wine prefixes of the Windows suites, set up before their first program runs (which would
# otherwise spend its first seconds on it).
wine-prefixes:
	@scripts/wine-run.sh --set-up build/windows-x64 64
	@[ -z "$(CAN_RUN_32_BIT)" ] || scripts/wine-run.sh --set-up build/windows-x86 32

# One preset's CTest suites (the audit among them checks dist/). The 32-bit Windows suites only
# where this machine runs 32-bit programs. (A static pattern rule: make applies no implicit rule to
# a phony target, so a plain `suite-%:` would leave them doing nothing.)
SUITES := suite-linux suite-windows-x86 suite-windows-x64
.PHONY: $(SUITES)
$(SUITES): suite-%:
	@if [ $* = windows-x86 ] && [ -z "$(CAN_RUN_32_BIT)" ]; then \
	  echo "== tests: $* NOT RUN: this machine cannot run 32-bit programs, so Wine cannot"; \
	  echo "   run the 32-bit suites (the 32-bit libraries are built and audited all the same)"; \
	else \
	  echo "== tests: $*"; \
	  RIDEL_AUDIT_REQUIRED=1 ctest --preset $* -j$(CTEST_JOBS); \
	fi

# dist/<target>/: one preset installed in the artifact layout (linux-release gives linux-x86_64).
dist-%: build-%
	@target=$(if $(filter linux-release,$*),linux-x86_64,$*); \
	rm -rf dist/$$target; \
	cmake --install build/$* --prefix dist/$$target >/dev/null; \
	echo "dist/$$target:"; (cd dist/$$target && find . -type f | sort | sed 's|^\./|  |')

dist: $(addprefix dist-,$(DIST_PRESETS))

# The release: CPack's archives of each preset in dist/release/ (ridel-<version>-<target>.zip,
# .tar.gz, and a .deb), the Windows installers (ridel-<version>-<target>.msi) and the JavaScript
# client's package (ridel-card-<version>.tgz), with SHA256SUMS beside them. Each archive holds
# the tree of dist/<target>/.
RELEASE := dist/release

# CPack's archives of one preset, in build/<preset>/package/; for Windows also the installer, in
# build/<preset>/msi/.
package-%: build-%
	@rm -rf build/$*/package build/$*/msi
	@cpack --preset $* >/dev/null
	@case $* in windows-*) cmake --build build/$* --target msi >/dev/null ;; esac

release: deps $(addprefix package-,$(DIST_PRESETS))
	@rm -rf $(RELEASE) && mkdir -p $(RELEASE)
	@for d in $(foreach p,$(DIST_PRESETS),build/$(p)/package build/$(p)/msi); do \
	  [ ! -d $$d ] || find $$d -maxdepth 1 -type f \
	    \( -name '*.zip' -o -name '*.tar.gz' -o -name '*.deb' -o -name '*.msi' \) \
	    -exec cp {} $(RELEASE) \; ; \
	done
	@cp build/linux-release/client/ridel-card-*.tgz $(RELEASE)
	@cd $(RELEASE) && sha256sum ridel* > SHA256SUMS
	@$(MAKE) --no-print-directory package-files && cp $(PACKAGE_FILES) $(RELEASE)/ && cd $(RELEASE) && sha256sum $(notdir $(PACKAGE_FILES)) >> SHA256SUMS
	@echo "$(RELEASE):"; cd $(RELEASE) && ls -l ridel* SHA256SUMS | awk '{print "  " $$5 "  " $$9}'

# The examples, each run against dist/linux-x86_64/ and the simulated reader and checked for the
# sample card's fields by tests/examples/check_card.py (the C example is built and checked by
# CTest). The libraries write result files beside the process's executable, which for Python,
# C# and Java is the runtime's: each runs from a private copy of its runtime in build/, so that
# nothing lands beside the system's python3, mono or java.
EXAMPLE_DIST := $(CURDIR)/dist/linux-x86_64
CHECK_CARD := python3 tests/examples/check_card.py
JNA_JAR := /usr/share/java/jna.jar
.PHONY: example-dist example-python example-csharp example-java

examples: example-python example-csharp example-java

example-python example-csharp example-java: example-dist

example-dist:
	@test -f $(EXAMPLE_DIST)/sdt/libridel.so || \
	  { echo "examples: no $(EXAMPLE_DIST), run make dist-linux-release first" >&2; exit 1; }

example-python:
	@test -x build/python-example/bin/python3 || \
	  python3 -m venv --without-pip --copies build/python-example
	$(CHECK_CARD) --form sdt --photo build/python-example/bin/zp.bmp -- \
	  build/python-example/bin/python3 examples/read_card.py $(EXAMPLE_DIST)

# Mono finds ridel.dll as libridel.so on the loader's path, and libridel.so its driver and
# decoder there too.
# Where a .NET SDK is installed the example is also built with it.
example-csharp:
	@mkdir -p build/csharp-example
	mcs -warnaserror+ -out:build/csharp-example/ReadCard.exe examples/ReadCard.cs
	cp -f "$$(readlink -f "$$(command -v mono)")" build/csharp-example/mono
	$(CHECK_CARD) --form sdt --photo build/csharp-example/zp.bmp -- \
	  env LD_LIBRARY_PATH=$(EXAMPLE_DIST)/sdt:$(EXAMPLE_DIST)/simulator \
	  build/csharp-example/mono build/csharp-example/ReadCard.exe
	@if command -v dotnet >/dev/null 2>&1; then scripts/build-csharp-example.sh; \
	 else echo "example-csharp: no .NET SDK here, built with Mono only"; fi

# A runtime of its own made with jlink (jdk.charsets for GBK). JNA finds libvantrel.so through
# jna.library.path; the edition loads the driver and decoder by name from the loader's path. The
# photo the example saves from GetPhotoBMP is the bitmap the edition left beside the runtime.
example-java:
	@test -x build/java-example/runtime/bin/java || { rm -rf build/java-example/runtime && \
	  jlink --add-modules java.base,java.logging,jdk.charsets --strip-debug --no-man-pages \
	    --no-header-files --output build/java-example/runtime; }
	javac -Xlint:all -Werror -cp $(JNA_JAR) -d build/java-example/classes examples/ReadCard.java
	$(CHECK_CARD) --form vantrel --photo build/java-example/photo.bmp \
	  --result-file build/java-example/runtime/bin/ZP.bmp -- \
	  env LD_LIBRARY_PATH=$(EXAMPLE_DIST)/simulator build/java-example/runtime/bin/java \
	  -cp build/java-example/classes:$(JNA_JAR) -Djna.library.path=$(EXAMPLE_DIST)/vantrel \
	  ReadCard 1001 build/java-example/photo.bmp
	cmp build/java-example/photo.bmp build/java-example/runtime/bin/ZP.bmp

# The language packages of packages/ (.NET, Java, Python, Object Pascal): each built into
# build/packages/ (PACKAGE_FILES, which make release ships) and tested against dist/linux-x86_64/
# and the simulated reader by tests/packages/check_packages.py: each edition reads the sample
# card, an odd card, no card, no reader and a failing decoder. As for the examples, each test
# runs from a private copy of its runtime in build/packages-test/, where the editions' result
# files land (and where the packages remove them again).
VERSION := $(shell sed -n 's/^\#define RIDEL_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$$/\2/p' \
             include/ridel_version.h | paste -sd.)
PACKAGES_OUT := build/packages
PACKAGES_TEST := $(CURDIR)/build/packages-test
PACKAGE_FILES = $(addprefix $(PACKAGES_OUT)/,Ridel.Net.dll Ridel.Net.xml ridel-$(VERSION).jar \
                  ridel-$(VERSION)-javadoc.jar ridel-$(VERSION)-py3-none-any.whl ridel.pas)
# The Wine prefix of the 64-bit suites.
WIN64_PREFIX := $(CURDIR)/build/windows-x64/wineprefix
# Debian's interpreter, whose setuptools, wheel and venv install-deps installs.
DEBIAN_PYTHON := /usr/bin/python3
CHECK_PACKAGE = python3 tests/packages/check_packages.py --work $(PACKAGES_TEST)/$(1)-work \
                  --runtime-folder $(2) $(or $(3),--dist $(EXAMPLE_DIST)) --
FPC := fpc -Mdelphi -vewn -Sew
.PHONY: packages package-files package-dotnet package-java package-python package-pascal \
        package-test-dotnet package-test-java package-test-python package-test-pascal

packages: package-test-dotnet package-test-java package-test-python package-test-pascal \
          package-test-pascal-windows

package-files: package-dotnet package-java package-python package-pascal

# Each package file is made again only when its sources (or the version) changed: make release
# after make packages, as in make test, ships the files whose tests have just passed.
DOTNET_FILES := $(addprefix $(PACKAGES_OUT)/,Ridel.Net.dll Ridel.Net.xml)
JAVA_FILES := $(addprefix $(PACKAGES_OUT)/,ridel-$(VERSION).jar ridel-$(VERSION)-javadoc.jar)
PYTHON_FILES := $(PACKAGES_OUT)/ridel-$(VERSION)-py3-none-any.whl
PASCAL_FILES := $(PACKAGES_OUT)/ridel.pas
package-dotnet: $(DOTNET_FILES)
package-java: $(JAVA_FILES)
package-python: $(PYTHON_FILES)
package-pascal: $(PASCAL_FILES)

package-test-dotnet package-test-java package-test-python package-test-pascal: example-dist

$(DOTNET_FILES) &: $(wildcard packages/dotnet/*.cs) include/ridel_version.h
	@mkdir -p $(PACKAGES_OUT) build/packages-src
	@printf '[assembly: System.Reflection.AssemblyVersion("%s.0")]\n' $(VERSION) \
	  > build/packages-src/AssemblyVersion.cs
	mcs -warnaserror+ -target:library -doc:$(PACKAGES_OUT)/Ridel.Net.xml \
	  -out:$(PACKAGES_OUT)/Ridel.Net.dll packages/dotnet/*.cs build/packages-src/AssemblyVersion.cs

# Mono finds Ridel.Net.dll beside the test programs, the system's assemblies from its copy.
package-test-dotnet: package-dotnet
	@mkdir -p $(PACKAGES_TEST)/dotnet
	cp -f $(PACKAGES_OUT)/Ridel.Net.dll $(PACKAGES_TEST)/dotnet/
	cp -f "$$(readlink -f "$$(command -v mono)")" $(PACKAGES_TEST)/dotnet/mono
	mcs -warnaserror+ -r:$(PACKAGES_OUT)/Ridel.Net.dll -out:$(PACKAGES_TEST)/dotnet/Tests.exe \
	  packages/dotnet/tests/Tests.cs
	mcs -warnaserror+ -r:$(PACKAGES_OUT)/Ridel.Net.dll -out:$(PACKAGES_TEST)/dotnet/Probe.exe \
	  packages/dotnet/tests/Probe.cs
	$(PACKAGES_TEST)/dotnet/mono $(PACKAGES_TEST)/dotnet/Tests.exe
	$(call CHECK_PACKAGE,dotnet,$(PACKAGES_TEST)/dotnet) \
	  $(PACKAGES_TEST)/dotnet/mono $(PACKAGES_TEST)/dotnet/Probe.exe

$(JAVA_FILES) &: $(wildcard packages/java/src/ridel/*.java) include/ridel_version.h
	@rm -rf build/packages-src/java && mkdir -p build/packages-src/java/classes $(PACKAGES_OUT)
	javac --release 8 -encoding UTF-8 -Xlint:all -Werror -cp $(JNA_JAR) \
	  -d build/packages-src/java/classes packages/java/src/ridel/*.java
	javadoc -quiet -encoding UTF-8 -Xdoclint:all,-missing -cp $(JNA_JAR) \
	  -d build/packages-src/java/javadoc packages/java/src/ridel/*.java
	printf 'Implementation-Title: ridel\nImplementation-Version: %s\n' \
	  $(VERSION) > build/packages-src/java/manifest
	jar --create --file $(PACKAGES_OUT)/ridel-$(VERSION).jar \
	  --manifest build/packages-src/java/manifest -C build/packages-src/java/classes .
	jar --create --file $(PACKAGES_OUT)/ridel-$(VERSION)-javadoc.jar \
	  -C build/packages-src/java/javadoc .

# A runtime of its own made with jlink (jdk.charsets for GBK), as for the Java example.
package-test-java: package-java
	@test -x $(PACKAGES_TEST)/java/runtime/bin/java || { rm -rf $(PACKAGES_TEST)/java/runtime && \
	  jlink --add-modules java.base,java.logging,jdk.charsets --strip-debug --no-man-pages \
	    --no-header-files --output $(PACKAGES_TEST)/java/runtime; }
	javac -encoding UTF-8 -Xlint:all -Werror -cp $(PACKAGES_OUT)/ridel-$(VERSION).jar:$(JNA_JAR) \
	  -d $(PACKAGES_TEST)/java/classes packages/java/tests/*.java
	$(PACKAGES_TEST)/java/runtime/bin/java \
	  -cp $(PACKAGES_TEST)/java/classes:$(PACKAGES_OUT)/ridel-$(VERSION).jar:$(JNA_JAR) Tests
	$(call CHECK_PACKAGE,java,$(PACKAGES_TEST)/java/runtime/bin) \
	  $(PACKAGES_TEST)/java/runtime/bin/java \
	  -cp $(PACKAGES_TEST)/java/classes:$(CURDIR)/$(PACKAGES_OUT)/ridel-$(VERSION).jar:$(JNA_JAR) Probe

# The wheel is built offline from a copy whose version is the project's.
$(PYTHON_FILES): $(shell find packages/python -type f -not -path '*/__pycache__/*') \
                 include/ridel_version.h
	@rm -rf build/packages-src/python && mkdir -p build/packages-src $(PACKAGES_OUT)
	cp -r packages/python build/packages-src/python
	sed -i 's/^version = .*/version = "$(VERSION)"/' build/packages-src/python/pyproject.toml
	sed -i 's/^__version__ = .*/__version__ = "$(VERSION)"/' build/packages-src/python/ridel/__init__.py
	$(DEBIAN_PYTHON) -m pip wheel --quiet --no-build-isolation --no-deps --no-index \
	  -w $(PACKAGES_OUT) build/packages-src/python

# Installed into a fresh virtual environment with its own copy of the interpreter.
package-test-python: package-python
	rm -rf $(PACKAGES_TEST)/python && $(DEBIAN_PYTHON) -m venv --copies $(PACKAGES_TEST)/python
	$(PACKAGES_TEST)/python/bin/python3 -m pip install --quiet --no-index --no-deps \
	  $(PACKAGES_OUT)/ridel-$(VERSION)-py3-none-any.whl
	cd packages/python/tests && $(PACKAGES_TEST)/python/bin/python3 -m unittest -q test_card
	$(call CHECK_PACKAGE,python,$(PACKAGES_TEST)/python/bin) \
	  $(PACKAGES_TEST)/python/bin/python3 packages/python/tests/probe.py

$(PASCAL_FILES): packages/pascal/ridel.pas include/ridel_version.h
	@mkdir -p $(PACKAGES_OUT) build/packages-src/pascal
	$(FPC) -FUbuild/packages-src/pascal packages/pascal/ridel.pas
	cp -f packages/pascal/ridel.pas $(PACKAGES_OUT)/

# The probe is the program itself: the result files land beside it.
package-test-pascal: package-pascal
	@mkdir -p $(PACKAGES_TEST)/pascal/units
	$(FPC) -Fupackages/pascal -FU$(PACKAGES_TEST)/pascal/units -FE$(PACKAGES_TEST)/pascal \
	  packages/pascal/tests/tests.pas
	$(FPC) -Fupackages/pascal -FU$(PACKAGES_TEST)/pascal/units -FE$(PACKAGES_TEST)/pascal \
	  packages/pascal/tests/probe.pas
	$(PACKAGES_TEST)/pascal/tests
	$(call CHECK_PACKAGE,pascal,$(PACKAGES_TEST)/pascal) $(PACKAGES_TEST)/pascal/probe

# The same for 64-bit Windows under Wine, against dist/windows-x64/, with Free Pascal's Windows
# units built from Debian's fpc-source (Debian ships none; it has no compiler for 32-bit Windows).
PASCAL_WIN64 := $(PACKAGES_TEST)/pascal-win64
WIN64_DIST ?= $(CURDIR)/dist/windows-x64
.PHONY: package-test-pascal-windows
package-test-pascal-windows:
	@test -f $(WIN64_DIST)/sdt/ridel.dll || \
	  { echo "packages: no $(WIN64_DIST), run make dist-windows-x64 first" >&2; exit 1; }
	scripts/fpc-win64-rtl.sh $(PASCAL_WIN64)/rtl
	@mkdir -p $(PASCAL_WIN64)/units
	$(FPC) -Twin64 -Px86_64 -Fu$(PASCAL_WIN64)/rtl -Fupackages/pascal -FU$(PASCAL_WIN64)/units \
	  -FE$(PASCAL_WIN64) packages/pascal/tests/tests.pas
	$(FPC) -Twin64 -Px86_64 -Fu$(PASCAL_WIN64)/rtl -Fupackages/pascal -FU$(PASCAL_WIN64)/units \
	  -FE$(PASCAL_WIN64) packages/pascal/tests/probe.pas
	WINEPREFIX=$(WIN64_PREFIX) scripts/wine-run.sh $(PASCAL_WIN64)/tests.exe
	WINEPREFIX=$(WIN64_PREFIX) $(call CHECK_PACKAGE,pascal-win64,$(PASCAL_WIN64),--windows \
	  --dist $(WIN64_DIST)) scripts/wine-run.sh $(PASCAL_WIN64)/probe.exe

# dist/linux-aarch64/tools/idcard reads the sample card through each edition under qemu-aarch64,
# with the simulated reader of dist/linux-aarch64/ (make test; timed).
.PHONY: read-aarch64
read-aarch64:
	@set -e; start=$$(date +%s); for e in qdx sdt vantrel; do \
	  out=$$($(QEMU) dist/linux-aarch64/tools/idcard --simulator --edition $$e); \
	  echo "$$out" | grep -Eq '^id_number +44010619880808107X' || \
	    { echo "$$out"; echo "== linux-aarch64: the $$e edition did not read the card" >&2; exit 1; }; \
	  echo "== linux-aarch64 under qemu-aarch64: the $$e edition reads the sample card"; \
	done; echo "== linux-aarch64: $$(( $$(date +%s) - start )) s"

# Reads the simulator's sample card through each edition, natively, on ARM64 under qemu-aarch64
# and under Wine.
demo: deps dist-linux-release dist-linux-aarch64 dist-windows-x86
	@set -e; for e in qdx sdt vantrel; do \
	  echo "== $$e edition, Linux"; dist/linux-x86_64/tools/idcard --simulator --edition $$e; \
	done; \
	echo "== sdt edition, Linux ARM64 under qemu-aarch64"; \
	$(QEMU) dist/linux-aarch64/tools/idcard --simulator --edition sdt; \
	echo "== qdx edition, Windows 32-bit under Wine"; \
	$(WINE) dist/windows-x86/tools/idcard.exe --simulator --edition qdx

# Every fuzz target (clang, libFuzzer, ASan+UBSan) for FUZZ_SECONDS seconds each.
# (build-fuzz builds the targets alone, fuzz-run runs them as built: make test builds them with
# the other builds and runs them beside the suites.)
.PHONY: build-fuzz fuzz-run
fuzz: build-fuzz
	@$(MAKE) --no-print-directory fuzz-run

build-fuzz: deps
	@test -f build/fuzz/CMakeCache.txt || cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz --target fuzz_targets -j$(JOBS)

fuzz-run:
	@tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

# Each edition's card cycle beside its baseline, the record conversions and the port scan,
# optimised; prints the ratio of each cycle to its baseline. Then idcard serve's own cost around
# the library: requests per second and latency of GET /api/v1/card for 1, 4 and 16 clients.
bench: deps
	@test -f build/bench/CMakeCache.txt || cmake --preset bench >/dev/null
	cmake --build --preset bench --target ridel_bench idcard -j$(JOBS)
	@bench/run.sh build/bench
	@echo
	@python3 bench/serve_bench.py --program build/bench/tools/idcard

clean:
	rm -rf build dist
