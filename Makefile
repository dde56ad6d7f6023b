# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
ARGS ?=
DEB_PACKAGES := build-essential cmake ninja-build libnewt-dev libpopt-dev gettext \
	libgtest-dev googletest tmux util-linux procps shellcheck locales

.PHONY: all deps build test demo bench clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

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

clean:
	rm -rf $(BUILD)
