#!/bin/sh
# package_deb.sh BUILD_DIR SOURCE_DIR VERSION WITH_MANPAGES
# Makes the Debian package from the build, checks its control fields and contents, then
# runs the CLI unpacked from it on the sample: it must take its data from the package's
# own share/vantorel.
set -eu
build=$1
source=$2
version=$3
with_manpages=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
set -- "$work"/out/vantorel_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single vantorel_*.deb in the cpack output"
deb=$1

[ "$(dpkg-deb -f "$deb" Package)" = vantorel ] || fail "package name"
case $(dpkg-deb -f "$deb" Version) in "$version"-*) ;; *) fail "version is not $version-*" ;; esac
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpng16-16 libjpeg62-turbo; do
    echo "$depends" | grep -q "\\b$lib\\b" || fail "Depends lacks $lib: $depends"
done

dpkg-deb -c "$deb" >"$work/contents"
# Every entry belongs to root and lies under /usr.
awk '$2 != "root/root" || $6 !~ /^\.\/(usr\/.*)?$/ {print; bad = 1} END {exit bad}' \
    "$work/contents" || fail "entries not owned by root or outside /usr (above)"
expected="usr/bin/vantorel usr/bin/vantorel-cli
  usr/share/vantorel/Countries.dat usr/share/vantorel/Boundaries.b
  usr/share/vantorel/Boundaries.shores usr/share/vantorel/Boundaries.index
  usr/share/vantorel/Stations.dat usr/share/vantorel/Scanner.cal
  usr/share/applications/vantorel.desktop usr/share/icons/hicolor/scalable/apps/vantorel.svg
  usr/share/bash-completion/completions/vantorel-cli
  usr/share/doc/vantorel/copyright usr/share/doc/vantorel/changelog.Debian.gz"
if [ "$with_manpages" = ON ]; then
    expected="$expected usr/share/man/man1/vantorel.1.gz usr/share/man/man1/vantorel-cli.1.gz"
fi
for f in $expected; do
    grep -q " \./$f\$" "$work/contents" || fail "not in the package: /$f"
done

dpkg-deb -x "$deb" "$work/root"
root=$work/root
if [ "$with_manpages" = ON ]; then
    # The CLI's page carries every command's own help, not only the command list.
    zcat "$root/usr/share/man/man1/vantorel-cli.1.gz" | grep -q 'if\\-older' ||
        fail "vantorel-cli(1) lacks the commands' options"
    if command -v man >/dev/null; then
        for page in vantorel vantorel-cli; do
            warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
                man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/$page.1.gz" \
                2>&1 >/dev/null)
            [ -z "$warnings" ] || fail "$page(1) has formatting warnings: $warnings"
        done
    fi
fi

# lintian (Debian's package checker): no errors; its warnings are shown.
if command -v lintian >/dev/null; then
    lintian_code=0
    lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || lintian_code=$?
    grep -v '^running with root privileges' "$work/lintian.log" || true
    [ $lintian_code -eq 0 ] || fail "lintian found errors (above)"
else
    echo "package: lintian is not installed: not checked"
fi

"$root/usr/bin/vantorel" --version | grep -qx "vantorel $version" || fail "vantorel --version"
export VANTOREL_REGISTRY_DIR="$work/registry"
mkdir -p "$VANTOREL_REGISTRY_DIR"
code=0
"$root/usr/bin/vantorel-cli" process --keplers "$source/samples/keps" --file-clock-offset 0 \
    --no-calibration --out "$work/sample.geo.png" "$source/samples/2020_09_27_08_00_58_64.bmp" \
    >"$work/run.log" 2>"$work/run.err" || code=$?
# 3: drawn, with the sample's expected warning (its element set is from 2020).
[ $code -eq 0 ] || [ $code -eq 3 ] || { cat "$work/run.log" "$work/run.err"; fail "exit $code"; }
grep -q "Cartography loaded from: $root/usr/share/vantorel/Boundaries.b" "$work/run.log" || {
    head "$work/run.log"; fail "the unpacked CLI did not load the package's Boundaries.b"; }
[ -s "$work/sample.geo.png" ] || fail "no picture written"
echo "package ok: $(basename "$deb")"
echo "Depends: $depends"
