#!/usr/bin/env bash
# Builds the Debian package from a Release build of the program alone (no
# tests, no benchmarks, no sanitizers) and checks it as Debian would:
# desktop-file-validate, appstreamcli, lintian, an install simulated both here
# and on a machine with nothing installed, and the unpacked program itself
# (its libraries resolve, --version runs, the manual renders, the manual and
# the completion know every command). Prints the package's figures.
#   scripts/package.sh [BUILD_DIR]      (default build-package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
started=$SECONDS
"$root/scripts/install-deps.sh"

# Debian's hardening flags (stack protector, fortify, relro, bind-now), as a
# package built by dpkg-buildpackage gets them; without -g, since the
# package is stripped anyway. CMake reads them, like the compiler launcher,
# when it first configures the folder, which keeps them after.
launcher=()
if command -v ccache >/dev/null && [[ ! -f $build/CMakeCache.txt ]]; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
CFLAGS="${CFLAGS//-g /} $CPPFLAGS" CXXFLAGS="${CXXFLAGS//-g /} $CPPFLAGS" LDFLAGS="$LDFLAGS" \
  cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DKORVALA_TESTS=OFF -DKORVALA_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target korvala korvala_docs
built=$SECONDS
rm -f "$build"/korvala_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/korvala_*.deb)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/root"
unpacked=$work/root/usr

desktop-file-validate "$unpacked"/share/applications/*.desktop
appstreamcli validate --no-net "$unpacked"/share/metainfo/*.metainfo.xml
lintian --fail-on error --info "$deb"

# The program from the package, not from the build folder.
if ldd "$unpacked/bin/korvala" | grep 'not found'; then
  echo "package.sh: libraries of the packaged program do not resolve" >&2
  exit 1
fi
"$unpacked/bin/korvala" --version
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$unpacked/share/man/man1/korvala.1.gz" 2>&1 >/dev/null)
if [[ -n $warnings ]]; then
  echo "package.sh: the manual page does not render cleanly:" >&2
  echo "$warnings" >&2
  exit 1
fi
# Every word the program's own help names as a command is in the manual
# and in the completion.
manual=$(zcat "$unpacked/share/man/man1/korvala.1.gz" | sed 's/\\-/-/g')
completion=$(cat "$unpacked/share/bash-completion/completions/korvala")
# The help lists them as "  word word…" or "  word  description".
mapfile -t words < <("$unpacked/bin/korvala" --help 2>&1 | sed -n 's/^  \([a-z-].*\)/\1/p' | sed 's/  .*//' |
  tr ' |' '\n\n' | grep -E '^-{0,2}[a-z][a-z-]*$' | sort -u)
for word in "${words[@]}"; do
  grep -qE -- "^\.B[IR]? (.*[ |])?$word([ |]|$)" <<<"$manual" || { echo "package.sh: the manual lacks $word" >&2; exit 1; }
  grep -qw -- "$word" <<<"$completion" || { echo "package.sh: the completion lacks $word" >&2; exit 1; }
done

apt-get install --simulate "$deb" >/dev/null
# The same on a machine that has nothing installed: every dependency comes
# from the archive, and none is a development package. That needs the
# archive's package lists, which a machine that had everything installed
# may lack.
if ! compgen -G '/var/lib/apt/lists/*_Packages*' >/dev/null; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
fi
echo -n >"$work/status"
closure=$(apt-get install --simulate -o Dir::State::status="$work/status" "$deb" | sed -n 's/^Inst \([^ ]*\) .*/\1/p')
if grep -E -- '-dev$' <<<"$closure"; then
  echo "package.sh: the package pulls in development packages" >&2
  exit 1
fi

echo "package: $deb"
echo "package: $(stat -c %s "$deb") bytes, installed $(dpkg-deb -f "$deb" Installed-Size) KiB, $(wc -l <<<"$closure") packages on a bare system"
echo "package: depends $(dpkg-deb -f "$deb" Depends)"
echo "package: release build $((built - started)) s, package and checks $((SECONDS - built)) s"
