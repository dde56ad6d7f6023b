# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
ARGS ?=
BUILD_PACKAGES := build-essential cmake ninja-build libnewt-dev libslang2-dev libpopt-dev gettext git libgtest-dev googletest scdoc man-db groff-base jq
DEB_PACKAGES := $(BUILD_PACKAGES) tmux util-linux procps attr shellcheck locales tzdata busybox-static \
	rpm dnf zypper createrepo-c qemu-system-x86 debootstrap \
	clang libclang-rt-14-dev clang-tidy cppcheck valgrind \
	ansible-core ansible-lint openssh-server openssh-client gnupg gpgv python3-cryptography reuse acl inotify-tools
BOM_VALIDATOR := tests/support/bom-validator
VERSION := $(shell sed -n 's/^project.tessaro_installer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
SAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := fuzz_progress_line fuzz_package_list fuzz_trimmed_lines fuzz_mount_table fuzz_command_line
SAN_REPORTS = $(CURDIR)/$(SAN_BUILD)/sanitizer-reports
SAN_ENV = ASAN_OPTIONS=detect_leaks=1:exitcode=99:log_path=$(SAN_REPORTS)/asan \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=99:log_path=$(SAN_REPORTS)/ubsan \
	LSAN_OPTIONS=exitcode=99:print_suppressions=0:suppressions=$(CURDIR)/tests/support/lsan.supp

.PHONY: all deps build-deps build package screens mutants power-cut test unit-test sdk-installed-test sanitized-test fuzz lint soak demo bench pot clean

all: build

# Installs those of the given Debian packages that are missing.
define install_missing
	@missing=""; for p in $(1); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -Eq ' ok (installed|triggers-pending|triggers-awaited)$$' || \
			missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
endef

build-deps:
	$(call install_missing,$(BUILD_PACKAGES))

deps:
	$(call install_missing,$(DEB_PACKAGES))
	@# The test machine's kernel, from Debian's package, never installed.
	sh tests/support/machine.sh kernel .cache/machine
	@# A Debian root whose first process is systemd, for the machine's systemd runs.
	sh tests/support/machine.sh systemd-root .cache/machine
	@locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$$' || localedef -i de_DE -f UTF-8 de_DE.UTF-8
	@command -v npm >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nodejs npm; }
	@# The bill of materials' validator, from its format's own project, at
	@# the versions its lock file pins.
	@[ $(BOM_VALIDATOR)/node_modules/.package-lock.json -nt $(BOM_VALIDATOR)/package-lock.json ] || \
		npm ci --prefix $(BOM_VALIDATOR) --no-audit --no-fund --loglevel=error

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

build: $(BUILD)/build.ninja
	cmake --build $(BUILD)

# The SDK package users download, with its checksum beside it, and the
# source tarball of the commit it was built from; with
# SIGN_KEY=<fingerprint>, both signed (the checksum files' signatures, and
# the public key for the download page).
package: build-deps $(BUILD)/build.ninja
	@# The linked libraries' sources beside the package, where this host can
	@# fetch them (the written offer in the package stands for them always).
	sh packaging/source-apt.sh $(CURDIR)/$(BUILD)/apt || true
	APT_CONFIG=$(CURDIR)/$(BUILD)/apt/apt.conf SOURCES_DIR=$(CURDIR)/$(BUILD)/third-party-sources \
		cmake --build $(BUILD) --target sdk_package
	sh packaging/make-source.sh . tessaro-virtualization-sdk-$(VERSION)-src $(BUILD)
	@# (Built from a source tarball, there is no source tarball to sign.)
	@set -e; cd $(BUILD); for kind in x86_64 src; do \
		tarball=tessaro-virtualization-sdk-$(VERSION)-$$kind.tar.gz; \
		[ -e "$$tarball" ] || continue; \
		if [ -n "$(SIGN_KEY)" ]; then sh $(CURDIR)/packaging/sign-package.sh "$$tarball" "$(SIGN_KEY)"; fi; \
		ls "$$tarball"*; sha256sum -c "$$tarball.sha256"; \
	done

# The pictures of the wizard's screens that the README shows, and of every
# other dialog, taken anew from the real program in a terminal.
screens: deps
	$(MAKE) build
	SCREENS_WRITE=$(CURDIR)/docs/screens DIALOGS_WRITE=$(CURDIR)/tests/terminal/dialogs \
		$(BUILD)/tests/terminal_tests --gtest_filter='Screens.*'
	SCREENS_WRITE=$(CURDIR)/docs/screens $(BUILD)/tests/machine_tests --gtest_filter='Console.*'

test: deps
	$(MAKE) unit-test
	$(MAKE) sdk-installed-test
	$(MAKE) lint
	$(MAKE) sanitized-test
	$(MAKE) fuzz

unit-test:
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j2 --timeout 600

# The end-to-end and terminal tests again, on what looks like a host where
# the sample SDK is installed (in a private mount namespace, so this host
# is not changed): they must give the same results as on a clean host.
sdk-installed-test: build
	unshare -m --propagation private sh tests/support/with-sdk-installed.sh $(BUILD)/sdk \
		ctest --test-dir $(BUILD) --output-on-failure -j2 --timeout 600 -L 'e2e|terminal'

# The whole suite again, against a build with the sanitizers; any report
# fails the run.
sanitized-test:
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DINSTALLER_SANITIZE=ON
	cmake --build $(SAN_BUILD)
	rm -rf $(SAN_REPORTS) && mkdir -p $(SAN_REPORTS) && chmod 1777 $(SAN_REPORTS)
	$(SAN_ENV) ctest --test-dir $(SAN_BUILD) --output-on-failure -j2 --timeout 900 -LE machine
	@if [ -n "$$(ls -A $(SAN_REPORTS))" ]; then cat $(SAN_REPORTS)/*; echo "sanitizer reports above"; exit 1; fi

demo: build-deps
	$(MAKE) build
	cd $(BUILD)/sdk && ./install $(ARGS)

# 1,000 unattended install and remove cycles of the sample SDK (the test
# suite runs 25).
soak: build
	INSTALLER_SOAK_CYCLES=$${SOAK_CYCLES:-1000} $(BUILD)/tests/e2e_tests --gtest_filter='Soak.*'

bench: deps
	@dpkg-query -W -f='$${Status}' whiptail 2>/dev/null | grep -Eq ' ok (installed|triggers-pending|triggers-awaited)$$' || \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq whiptail
	$(MAKE) build
	$(BUILD)/bench/installer_bench

# clang-tidy and cppcheck over the sources, shellcheck over every shell
# script, the playbook's syntax check and ansible-lint, and every file's
# licence and copyright (reuse lint); any finding fails.
lint: build
	reuse lint --quiet || reuse lint
	clang-tidy -p $(BUILD) --quiet $$(find src -name '*.cpp' | LC_ALL=C sort)
	cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr --quiet --error-exitcode=1 \
		--library=posix --library=tests/lint/cppcheck.cfg -I src src
	shellcheck .ci/run tests/support/sandbox.sh tests/support/with-sdk-installed.sh tests/support/test-host.sh tests/support/bare-root.sh \
		tests/support/machine.sh tests/support/machine-init.sh tests/support/machine-initrd.sh tests/support/machine-systemd.sh tests/support/power-cut.sh tests/support/power-cut-campaign.sh \
		packaging/make-package.sh packaging/sign-package.sh packaging/third-party.sh packaging/bill-of-materials.sh \
		packaging/third-party-sources.sh packaging/source-apt.sh \
		packaging/make-source.sh sample-sdk/installer-cli sample-sdk/installer/*.sh sample-sdk/payload/bin/tessaro-sdk-info \
		deploy/ansible/roles/tessaro_sdk/files/*.sh
	cd deploy/ansible && ANSIBLE_HOME=$(CURDIR)/$(BUILD)/ansible ansible-playbook --syntax-check \
		-i inventory.example.ini install.yml
	cd deploy/ansible && ANSIBLE_HOME=$(CURDIR)/$(BUILD)/ansible ansible-lint --offline install.yml roles/tessaro_sdk

# Every fuzz target for FUZZ_SECONDS from the seed corpus in the
# repository; new inputs go to a scratch corpus, never into the repository.
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DINSTALLER_FUZZ=ON -DINSTALLER_TESTS=OFF
	cmake --build $(FUZZ_BUILD)
	@for target in $(FUZZ_TARGETS); do \
		rm -rf $(FUZZ_BUILD)/corpus/$$target && mkdir -p $(FUZZ_BUILD)/corpus/$$target $(FUZZ_BUILD)/artifacts && \
		echo "fuzzing $$target for $(FUZZ_SECONDS) s" && \
		LSAN_OPTIONS=print_suppressions=0:suppressions=$(CURDIR)/tests/support/lsan.supp \
		$(FUZZ_BUILD)/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/artifacts/ $(FUZZ_BUILD)/corpus/$$target tests/fuzz/corpus/$$target \
			2> $(FUZZ_BUILD)/$$target.log || { tail -40 $(FUZZ_BUILD)/$$target.log; exit 1; }; \
		grep -E 'number_of_executed_units' $(FUZZ_BUILD)/$$target.log; \
	done

# Small faults planted one at a time in a copy of the sources: which the
# suite catches, by which test, and the score (not part of make test). The
# hand-written list; with SEED=n [COUNT=k] k faults generated at random;
# with DIFF=REV [COUNT=k] [SEED=n] one at every line written since REV
# (DIFF=A..B, or commits and ranges separated by commas: at the lines those
# commits wrote that still stand);
# ONLY=n,m runs those of the faults listed (by their numbers) alone.
mutants: deps
	python3 tests/mutation/mutants.py $(if $(DIFF),--diff $(DIFF) $(if $(SEED),--seed $(SEED)) \
		$(if $(COUNT),--count $(COUNT)),$(if $(SEED),--seed $(SEED) --count $(or $(COUNT),60))) \
		$(if $(ONLY),--only $(ONLY))

# Power cuts on the test machine at random points of install, upgrade and
# removal (CUTS of them, 40 by default, chosen by SEED), with a payload of
# FILES files of KBYTES each (2,000 of 25 by default); one line per cut and
# the summary (not part of make test, which runs 9).
power-cut: deps
	cmake --build $(BUILD) --target sdk_package
	MACHINE_KERNEL=$(CURDIR)/.cache/machine/vmlinuz sh tests/support/power-cut-campaign.sh \
		$(BUILD)/tessaro-virtualization-sdk-$(VERSION)-x86_64.tar.gz $(or $(CUTS),40) $(or $(SEED),1) \
		$(or $(FILES),2000) $(or $(KBYTES),25)

# Refreshes the message template from the sources and merges it into every
# translation.
pot:
	xgettext --language=C++ --keyword=_ --keyword=N_ --from-code=UTF-8 --add-comments=TRANSLATORS \
		--package-name=install --msgid-bugs-address=installer@tessaro.example --sort-by-file \
		-o po/install.pot $$(find src -name '*.cpp' | LC_ALL=C sort)
	for po in po/*.po; do msgmerge --quiet --update --backup=none "$$po" po/install.pot; done

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
