# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
ARGS ?=
DEB_PACKAGES := build-essential cmake ninja-build libnewt-dev libpopt-dev gettext \
	libgtest-dev googletest tmux util-linux procps shellcheck locales

.PHONY: all deps build test demo bench pot clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
	@locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$$' || localedef -i de_DE -f UTF-8 de_DE.UTF-8

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: $(BUILD)/build.ninja
	cmake --build $(BUILD)

test: deps
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j2 --timeout 600

demo: build
	cd $(BUILD)/sdk && ./install $(ARGS)

bench: deps
	@dpkg-query -W -f='$${Status}' whiptail 2>/dev/null | grep -q 'install ok installed' || \
		DEBIAN_FRONTEND=noninteractive apt-get install -y -qq whiptail
	$(MAKE) build
	$(BUILD)/bench/installer_bench

# Refreshes the message template from the sources and merges it into every
# translation.
pot:
	xgettext --language=C++ --keyword=_ --keyword=N_ --from-code=UTF-8 --add-comments=TRANSLATORS \
		--package-name=install --msgid-bugs-address=installer@tessaro.example --sort-by-file \
		-o po/install.pot $$(find src -name '*.cpp' | LC_ALL=C sort)
	for po in po/*.po; do msgmerge --quiet --update --backup=none "$$po" po/install.pot; done

clean:
	rm -rf $(BUILD)
